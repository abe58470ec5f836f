#include "fx/IMidiMsg.h"

void IMidiMsg::MakeNoteOnMsg(int noteNumber, int velocity, int offset, int channel)
{
  Clear();
  mOffset = offset;
  mStatus = (uint8_t)(0x90 | channel);
  mData1 = (uint8_t)noteNumber;
  mData2 = (uint8_t)velocity;
}

void IMidiMsg::MakeNoteOffMsg(int noteNumber, int offset, int channel)
{
  Clear();
  mOffset = offset;
  mStatus = (uint8_t)(0x80 | channel);
  mData1 = (uint8_t)noteNumber;
  mData2 = 0;
}

void IMidiMsg::MakePitchWheelMsg(double value, int channel)
{
  Clear();
  mStatus = (uint8_t)(0xE0 | channel);
  int i = (int)(value * 8192.0) + 8192;
  if (i < 0) i = 0;
  if (i > 16383) i = 16383;
  mData1 = (uint8_t)(i & 0x7F);
  mData2 = (uint8_t)((i >> 7) & 0x7F);
}

void IMidiMsg::MakeControlChangeMsg(int controller, double value, int channel)
{
  Clear();
  mStatus = (uint8_t)(0xB0 | channel);
  mData1 = (uint8_t)controller;
  mData2 = (uint8_t)(int)(value * 127.0);
}

int IMidiMsg::Channel() const { return mStatus & 0x0F; }

IMidiMsg::EStatusMsg IMidiMsg::StatusMsg() const
{
  unsigned int e = mStatus >> 4;
  if (e < kNoteOff || e > kPitchWheel) return kNone;
  return (EStatusMsg)e;
}

int IMidiMsg::NoteNumber() const
{
  switch (StatusMsg())
  {
    case kNoteOn:
    case kNoteOff:
    case kPolyAftertouch: return mData1;
    default: return -1;
  }
}

int IMidiMsg::Velocity() const
{
  switch (StatusMsg())
  {
    case kNoteOn:
    case kNoteOff: return mData2;
    default: return -1;
  }
}

int IMidiMsg::PolyAfterTouch() const
{
  return StatusMsg() == kPolyAftertouch ? mData2 : -1;
}

int IMidiMsg::ChannelAfterTouch() const
{
  return StatusMsg() == kChannelAftertouch ? mData1 : -1;
}

int IMidiMsg::Program() const
{
  return StatusMsg() == kProgramChange ? mData1 : -1;
}

double IMidiMsg::PitchWheel() const
{
  if (StatusMsg() != kPitchWheel) return 0.0;
  int i = mData2 * 128 + mData1 - 8192;
  return (double)i / 8192.0;
}

int IMidiMsg::ControlChangeIdx() const
{
  return StatusMsg() == kControlChange ? mData1 : -1;
}

double IMidiMsg::ControlChange(int controller) const
{
  if (StatusMsg() == kControlChange && mData1 == controller) return (double)mData2 / 127.0;
  return -1.0;
}

void IMidiMsg::Clear()
{
  mOffset = 0;
  mStatus = mData1 = mData2 = 0;
}
