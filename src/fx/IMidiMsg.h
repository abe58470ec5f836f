#pragma once

#include <cstdint>

// One short MIDI message with its position inside the audio block.
struct IMidiMsg
{
  enum EStatusMsg
  {
    kNone = 0,
    kNoteOff = 8,
    kNoteOn = 9,
    kPolyAftertouch = 10,
    kControlChange = 11,
    kProgramChange = 12,
    kChannelAftertouch = 13,
    kPitchWheel = 14
  };

  int32_t mOffset;
  uint8_t mStatus, mData1, mData2;

  IMidiMsg(int offset = 0, uint8_t status = 0, uint8_t data1 = 0, uint8_t data2 = 0)
    : mOffset(offset), mStatus(status), mData1(data1), mData2(data2) {}

  void MakeNoteOnMsg(int noteNumber, int velocity, int offset, int channel = 0);
  void MakeNoteOffMsg(int noteNumber, int offset, int channel = 0);
  // value in -1..1
  void MakePitchWheelMsg(double value, int channel = 0);
  // value in 0..1
  void MakeControlChangeMsg(int controller, double value, int channel = 0);

  int Channel() const;
  EStatusMsg StatusMsg() const;
  int NoteNumber() const;         // -1 when not a note message
  int Velocity() const;           // -1 when not a note on/off
  int PolyAfterTouch() const;     // -1 when not poly aftertouch
  int ChannelAfterTouch() const;  // -1 when not channel aftertouch
  int Program() const;            // -1 when not a program change
  double PitchWheel() const;      // 0.0 when not a pitch wheel message
  int ControlChangeIdx() const;   // -1 when not a control change
  double ControlChange(int controller) const;  // -1.0 unless a change of that controller

  void Clear();
  void LogMsg() {}  // diagnostics are off in this build
};

// A system-exclusive message; the bytes belong to whoever sent it.
struct ISysEx
{
  int32_t mOffset;
  int32_t mSize;
  const uint8_t* mData;

  ISysEx(int offset = 0, const uint8_t* data = nullptr, int size = 0)
    : mOffset(offset), mSize(size), mData(data) {}

  void Clear() { mOffset = mSize = 0; mData = nullptr; }
  void LogMsg() {}
};
