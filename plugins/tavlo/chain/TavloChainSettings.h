#pragma once

// Which channels the detector hears, of the main input or, when Sidechain
// selects it, of the side-chain: one of them, both (each through its own
// high-pass, the louder value frame by frame), or their mid, (L + R) / 2.
enum ETavloDetector
{
  kDetectRight = 0,
  kDetectLeft,
  kDetectLinked,
  kDetectMid,
  kNumDetectors
};

// What the chain works with for one block, in the units it reads them. They
// hold for the whole block: the switches too change only between blocks.
struct TavloChainSettings
{
  double sampleRate = 44100.0;
  double input = -10.0;     // Input as its plain value (threshold and drive)
  double outputGain = 0.0;  // linear, tavloeq::OutputGain(Output); 0 mutes
  double attack = 0.0;      // seconds; 0 reaches the target at once
  double release = 0.0;     // seconds
  double mix = 100.0;       // percent of the compressed signal
  double hpfFreq = 20.0;    // detector high-pass, Hz
  int oversample = 0;       // 1: four times
  int bypass = 0;           // 1: the input passes (after a short fade)
  int sidechain = 1;        // 1: the detector hears the main input, else the side-chain
  int detector = kDetectRight;
  int listen = 0;  // 1: the outputs play what the detector hears (after a short fade)
};
