#include <gtest/gtest.h>

#include <vector>

#include "base_test_plug.h"

namespace
{
std::vector<double> Ramp(int n, double start = 1.0)
{
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = start + i;
  return v;
}
} // namespace

TEST(BaseChannelIO, ParsesPairsAndAnswersLegalIO)
{
  TestPlug plug(0, "2-2 4-2");
  EXPECT_EQ(plug.InputChannelCount(), 4);
  EXPECT_EQ(plug.OutputChannelCount(), 2);
  EXPECT_TRUE(plug.LegalIO(4, 2));
  EXPECT_TRUE(plug.LegalIO(2, 2));
  EXPECT_FALSE(plug.LegalIO(4, 4));
  EXPECT_TRUE(plug.LegalIO(-1, 2));
  EXPECT_FALSE(plug.LegalIO(3, -1));
  EXPECT_TRUE(plug.LegalIO(-1, -1));
  EXPECT_FALSE(plug.LegalIO(0, 0));

  // A space after the last pair makes one more, empty, record.
  TestPlug trailing(0, "2-2 4-2 ");
  EXPECT_EQ(trailing.InputChannelCount(), 4);
  EXPECT_EQ(trailing.OutputChannelCount(), 2);
  EXPECT_TRUE(trailing.LegalIO(0, 0));

  TestPlug none(0, nullptr);
  EXPECT_EQ(none.InputChannelCount(), 0);
  EXPECT_EQ(none.OutputChannelCount(), 0);
  EXPECT_FALSE(none.LegalIO(-1, -1));

  // Unreadable numbers count as 0; the largest counts size the channels.
  TestPlug odd(0, "1-x 0-6");
  EXPECT_TRUE(odd.LegalIO(1, 0));
  EXPECT_TRUE(odd.LegalIO(0, 6));
  EXPECT_EQ(odd.InputChannelCount(), 1);
  EXPECT_EQ(odd.OutputChannelCount(), 6);
}

TEST(BaseChannels, ConnectionsAreClippedAndDisconnectedInputsReadZeros)
{
  TestPlug plug(0, "2-2 4-2");
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(plug.IsInChannelConnected(i));
  plug.SetInputChannelConnections(0, 4, true);
  plug.SetOutputChannelConnections(0, 2, true);
  plug.SetInputChannelConnections(2, 5, false);
  EXPECT_TRUE(plug.IsInChannelConnected(0));
  EXPECT_TRUE(plug.IsInChannelConnected(1));
  EXPECT_FALSE(plug.IsInChannelConnected(2));
  EXPECT_FALSE(plug.IsInChannelConnected(3));
  EXPECT_FALSE(plug.IsInChannelConnected(4));
  EXPECT_FALSE(plug.IsInChannelConnected(-1));
  EXPECT_TRUE(plug.IsOutChannelConnected(1));
  EXPECT_FALSE(plug.IsOutChannelConnected(2));

  // Huge ranges do not wrap around.
  plug.SetInputChannelConnections(1, 0x7fffffff, false);
  EXPECT_TRUE(plug.IsInChannelConnected(0));
  EXPECT_FALSE(plug.IsInChannelConnected(1));
  plug.SetInputChannelConnections(-3, 5, true);
  EXPECT_TRUE(plug.IsInChannelConnected(1));
  EXPECT_FALSE(plug.IsInChannelConnected(2));

  // After the block size is set the disconnected channels read the new,
  // zeroed scratch memory.
  plug.SetBlockSize(16);
  ASSERT_NE(plug.InData()[2], nullptr);
  ASSERT_NE(plug.InData()[3], nullptr);
  for (int s = 0; s < 16; ++s)
  {
    EXPECT_EQ(plug.InData()[2][s], 0.0);
    EXPECT_EQ(plug.InData()[3][s], 0.0);
  }

  // Two host buffers go to the two connected channels, in order.
  std::vector<double> a = Ramp(16, 1.0), b = Ramp(16, 100.0);
  double* bufs[2] = {a.data(), b.data()};
  plug.AttachInputBuffers(0, 4, bufs, 16);
  EXPECT_EQ(plug.InData()[0], a.data());
  EXPECT_EQ(plug.InData()[1], b.data());
  EXPECT_EQ(plug.InData()[2][15], 0.0);

  // With channel 0 disconnected the first host buffer goes to channel 1.
  plug.SetInputChannelConnections(0, 1, false);
  double* one[1] = {b.data()};
  plug.AttachInputBuffers(0, 4, one, 16);
  EXPECT_EQ(plug.InData()[1], b.data());
  EXPECT_NE(plug.InData()[0], b.data());
  EXPECT_EQ(plug.InData()[0][0], 0.0);
}

TEST(BaseChannels, BlockSizeResizesAndZeroesOnlyOnChange)
{
  TestPlug plug(0, "2-2");
  plug.SetInputChannelConnections(0, 2, true);
  plug.SetOutputChannelConnections(0, 2, true);
  plug.SetBlockSize(4);
  EXPECT_EQ(plug.GetBlockSize(), 4);

  // A float host fills the scratch buffers.
  float in0[4] = {0.5f, -0.25f, 1.0f, 2.0f}, in1[4] = {3, 4, 5, 6};
  float* fin[2] = {in0, in1};
  plug.AttachInputBuffers(0, 2, fin, 4);
  double* scratch0 = plug.InData()[0];
  EXPECT_EQ(scratch0[1], -0.25);

  plug.SetBlockSize(4);  // same size: contents kept
  EXPECT_EQ(plug.InData()[0][1], -0.25);
  EXPECT_EQ(plug.InData()[1][3], 6.0);

  plug.SetBlockSize(8);  // new size: zeroed
  for (int s = 0; s < 8; ++s)
  {
    EXPECT_EQ(plug.InData()[0][s], 0.0) << s;
    EXPECT_EQ(plug.InData()[1][s], 0.0) << s;
  }

  plug.AttachInputBuffers(0, 2, fin, 4);
  plug.ZeroScratchBuffers();
  EXPECT_EQ(plug.InData()[0][0], 0.0);
  EXPECT_EQ(plug.InData()[1][3], 0.0);

  plug.SetBlockSize(-5);
  EXPECT_EQ(plug.GetBlockSize(), 0);
}

TEST(BaseChannels, BlockSizeTheScratchCannotHoldLeavesNoScratch)
{
  TestPlug plug(0, "2-2");
  plug.SetInputChannelConnections(0, 1, true);
  plug.SetOutputChannelConnections(0, 1, true);
  plug.SetBlockSize(4);

  // 2^28 doubles overflow a buffer's byte count: no buffer may be written
  // at that size, so the block size falls back to 0.
  plug.SetBlockSize(1 << 28);
  EXPECT_EQ(plug.GetBlockSize(), 0);
  EXPECT_EQ(plug.InData()[1], nullptr);
  EXPECT_EQ(plug.OutData()[1], nullptr);

  // Float processing then converts nothing into the host's buffers.
  float in[4] = {1, 2, 3, 4}, out[4] = {9, 9, 9, 9};
  float* fin[1] = {in};
  float* fout[1] = {out};
  plug.AttachInputBuffers(0, 1, fin, 4);
  plug.AttachOutputBuffers(0, 1, fout);
  plug.ProcessBuffers(0.0f, 4);
  EXPECT_EQ(out[0], 9.0f);

  // A sensible size afterwards works again.
  plug.SetBlockSize(4);
  EXPECT_EQ(plug.GetBlockSize(), 4);
  ASSERT_NE(plug.InData()[1], nullptr);
  EXPECT_EQ(plug.InData()[1][3], 0.0);
}

TEST(BaseProcessing, DefaultProcessCopiesMatchingChannelsAndZeroesTheRest)
{
  TestPlug fourToTwo(0, "4-2");
  fourToTwo.SetInputChannelConnections(0, 4, true);
  fourToTwo.SetOutputChannelConnections(0, 2, true);
  fourToTwo.SetBlockSize(3);
  std::vector<double> i0 = Ramp(3, 1), i1 = Ramp(3, 10), i2 = Ramp(3, 20), i3 = Ramp(3, 30);
  std::vector<double> o0(3, -1), o1(3, -1);
  double* ins[4] = {i0.data(), i1.data(), i2.data(), i3.data()};
  double* outs[2] = {o0.data(), o1.data()};
  fourToTwo.AttachInputBuffers(0, 4, ins, 3);
  fourToTwo.AttachOutputBuffers(0, 2, outs);
  fourToTwo.ProcessBuffers(0.0, 3);
  EXPECT_EQ(o0, i0);
  EXPECT_EQ(o1, i1);

  TestPlug twoToFour(0, "2-4");
  twoToFour.SetInputChannelConnections(0, 2, true);
  twoToFour.SetOutputChannelConnections(0, 4, true);
  twoToFour.SetBlockSize(3);
  std::vector<double> p0(3, -1), p1(3, -1), p2(3, -1), p3(3, -1);
  double* outs4[4] = {p0.data(), p1.data(), p2.data(), p3.data()};
  twoToFour.AttachInputBuffers(0, 2, ins, 3);
  twoToFour.AttachOutputBuffers(0, 4, outs4);
  twoToFour.ProcessBuffers(0.0, 3);
  EXPECT_EQ(p0, i0);
  EXPECT_EQ(p1, i1);
  EXPECT_EQ(p2, std::vector<double>(3, 0.0));
  EXPECT_EQ(p3, std::vector<double>(3, 0.0));
}

TEST(BaseProcessing, FloatHostsConvertBothWays)
{
  TestPlug plug(0, "2-2");
  plug.SetInputChannelConnections(0, 2, true);
  plug.SetOutputChannelConnections(0, 2, true);
  plug.SetBlockSize(4);
  float in0[4] = {0.1f, 0.2f, -0.3f, 1e-3f}, in1[4] = {7, 8, 9, 10};
  float out0[4] = {-9, -9, -9, -9}, out1[4] = {-9, -9, -9, -9};
  float* fin[2] = {in0, in1};
  float* fout[2] = {out0, out1};
  plug.AttachInputBuffers(0, 2, fin, 4);
  plug.AttachOutputBuffers(0, 2, fout);
  // Inputs go through the double scratch buffers, not the host's memory.
  EXPECT_EQ(plug.InData()[0][2], (double)-0.3f);
  plug.ProcessBuffers(0.0f, 4);
  for (int s = 0; s < 4; ++s)
  {
    EXPECT_EQ(out0[s], in0[s]) << s;
    EXPECT_EQ(out1[s], in1[s]) << s;
  }

  // A disconnected output writes into its own scratch, never the host's buffer.
  float untouched[4] = {42, 42, 42, 42};
  float* fout2[2] = {out0, untouched};
  plug.SetOutputChannelConnections(1, 1, false);
  plug.AttachOutputBuffers(0, 2, fout2);
  plug.ProcessBuffers(0.0f, 4);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(untouched[s], 42.0f);

  // A host sending more frames than the block size cannot make the base
  // write past its scratch buffers or the host's (ASan checks the memory).
  std::vector<float> bigIn(64, 0.5f), bigOut(64, -1.0f);
  float* bi[2] = {bigIn.data(), bigIn.data()};
  float* bo[2] = {bigOut.data(), bigOut.data()};
  plug.SetOutputChannelConnections(0, 2, true);
  plug.AttachInputBuffers(0, 2, bi, 64);
  plug.AttachOutputBuffers(0, 2, bo);
  plug.ProcessBuffers(0.0f, 64);
  EXPECT_EQ(bigOut[3], 0.5f);
  EXPECT_EQ(bigOut[4], -1.0f);
}

TEST(BasePassThrough, LatencyDelaysTheDrySignalAcrossBlocks)
{
  TestPlug plug(0, "2-2");
  plug.AddDelayLine(0);
  plug.SetInputChannelConnections(0, 2, true);
  plug.SetOutputChannelConnections(0, 2, true);
  plug.SetBlockSize(8);
  plug.SetLatency(3);
  EXPECT_EQ(plug.GetLatency(), 3);
  EXPECT_EQ(plug.DelayLength(), 3);

  std::vector<double> l = {1, 2, 3, 4, 5}, r = {-1, -2, -3, -4, -5};
  std::vector<double> ol(5, 99), orr(5, 99);
  double* ins[2] = {l.data(), r.data()};
  double* outs[2] = {ol.data(), orr.data()};
  plug.AttachInputBuffers(0, 2, ins, 5);
  plug.AttachOutputBuffers(0, 2, outs);
  plug.PassThroughBuffers(0.0, 5);
  EXPECT_EQ(ol, (std::vector<double>{0, 0, 0, 1, 2}));
  EXPECT_EQ(orr, (std::vector<double>{0, 0, 0, -1, -2}));

  // The history carries into the next block.
  std::vector<double> l2 = {6, 7}, r2 = {-6, -7}, ol2(2), or2(2);
  double* ins2[2] = {l2.data(), r2.data()};
  double* outs2[2] = {ol2.data(), or2.data()};
  plug.AttachInputBuffers(0, 2, ins2, 2);
  plug.AttachOutputBuffers(0, 2, outs2);
  plug.PassThroughBuffers(0.0, 2);
  EXPECT_EQ(ol2, (std::vector<double>{3, 4}));
  EXPECT_EQ(or2, (std::vector<double>{-3, -4}));

  // In place (one buffer as input and output) gives the same delay.
  std::vector<double> io = {10, 20, 30};
  double* inPlace[2] = {io.data(), io.data()};
  plug.SetLatency(2);
  plug.SetInputChannelConnections(1, 1, false);
  plug.SetOutputChannelConnections(1, 1, false);
  plug.AttachInputBuffers(0, 2, inPlace, 3);
  plug.AttachOutputBuffers(0, 2, inPlace);
  plug.PassThroughBuffers(0.0, 3);
  EXPECT_EQ(io, (std::vector<double>{0, 0, 10}));

  // A negative latency acts as 0: straight copy.
  plug.SetLatency(-4);
  EXPECT_EQ(plug.GetLatency(), 0);
  EXPECT_EQ(plug.DelayLength(), 0);
  std::vector<double> x = {1.5, 2.5}, y(2, 0);
  double* xi[1] = {x.data()};
  double* yo[1] = {y.data()};
  plug.AttachInputBuffers(0, 1, xi, 2);
  plug.AttachOutputBuffers(0, 1, yo);
  plug.PassThroughBuffers(0.0, 2);
  EXPECT_EQ(y, x);
}

TEST(BasePassThrough, WithoutDelayCopiesAndZeroesExtraOutputs)
{
  TestPlug plug(0, "2-4", 1, 2);  // latency but no delay line: no delay
  plug.SetInputChannelConnections(0, 2, true);
  plug.SetOutputChannelConnections(0, 4, true);
  plug.SetBlockSize(2);
  std::vector<double> a = {1, 2}, b = {3, 4};
  std::vector<double> o[4] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
  double* ins[2] = {a.data(), b.data()};
  double* outs[4] = {o[0].data(), o[1].data(), o[2].data(), o[3].data()};
  plug.AttachInputBuffers(0, 2, ins, 2);
  plug.AttachOutputBuffers(0, 4, outs);
  plug.PassThroughBuffers(0.0, 2);
  EXPECT_EQ(o[0], a);
  EXPECT_EQ(o[1], b);
  EXPECT_EQ(o[2], (std::vector<double>{0, 0}));
  EXPECT_EQ(o[3], (std::vector<double>{0, 0}));

  // With a delay line the outputs without an input carry silence too.
  plug.AddDelayLine(1);
  plug.SetLatency(1);
  for (auto& v : o) v = {9, 9};
  plug.PassThroughBuffers(0.0, 2);
  EXPECT_EQ(o[0], (std::vector<double>{0, 1}));
  EXPECT_EQ(o[1], (std::vector<double>{0, 3}));
  EXPECT_EQ(o[2], (std::vector<double>{0, 0}));
  EXPECT_EQ(o[3], (std::vector<double>{0, 0}));

  // The float pass-through converts the delayed result.
  float fa[2] = {5, 6}, fb[2] = {7, 8};
  float fo[4][2] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
  float* fi[2] = {fa, fb};
  float* fouts[4] = {fo[0], fo[1], fo[2], fo[3]};
  plug.AttachInputBuffers(0, 2, fi, 2);
  plug.AttachOutputBuffers(0, 4, fouts);
  plug.PassThroughBuffers(0.0f, 2);
  EXPECT_EQ(fo[0][0], 2.0f);  // last sample of the previous block
  EXPECT_EQ(fo[0][1], 5.0f);
  EXPECT_EQ(fo[1][0], 4.0f);
  EXPECT_EQ(fo[1][1], 7.0f);
  EXPECT_EQ(fo[3][1], 0.0f);
}

TEST(BasePassThrough, DelayThatCannotBeAllocatedPassesStraightThrough)
{
  TestPlug plug(0, "2-2", 1, -7);
  EXPECT_EQ(plug.GetLatency(), 0);  // a negative latency at construction acts as 0
  plug.AddDelayLine(4);
  plug.SetInputChannelConnections(0, 2, true);
  plug.SetOutputChannelConnections(0, 2, true);
  plug.SetBlockSize(4);
  // 2 channels x INT_MAX samples does not fit: the line stays empty
  // instead of being indexed past its memory.
  plug.SetLatency(0x7fffffff);
  EXPECT_EQ(plug.GetLatency(), 0x7fffffff);
  EXPECT_EQ(plug.DelayLength(), 0);
  std::vector<double> a = {1, 2, 3}, b = {4, 5, 6}, oa(3), ob(3);
  double* ins[2] = {a.data(), b.data()};
  double* outs[2] = {oa.data(), ob.data()};
  plug.AttachInputBuffers(0, 2, ins, 3);
  plug.AttachOutputBuffers(0, 2, outs);
  plug.PassThroughBuffers(0.0, 3);
  EXPECT_EQ(oa, a);
  EXPECT_EQ(ob, b);

  // A workable length afterwards delays again, from silence.
  plug.SetLatency(1);
  plug.PassThroughBuffers(0.0, 3);
  EXPECT_EQ(oa, (std::vector<double>{0, 1, 2}));
}

namespace
{
// Halves its input; counts the frames it processes and the frames the host
// bypasses while it stands still.
class HalvingPlug : public TestPlug
{
public:
  HalvingPlug() : TestPlug(0, "2-2") {}
  void ProcessDoubleReplacing(double** in, double** out, int n) override
  {
    for (int c = 0; c < 2; ++c)
      for (int s = 0; s < n; ++s) out[c][s] = 0.5 * in[c][s];
    mProcessed += n;
  }
  void OnHostBypassedBlock(int n) override { mBypassed += n; }
  void SetHostBypass(bool b)
  {
    SetBypassed(b);
    TakeBlockParams();
  }
  long mProcessed = 0, mBypassed = 0;
};
} // namespace

// The host's bypass switches along a linear fade of 5 ms (240 frames at
// 48 kHz), over as many blocks as it takes: frame j of the fade (1 to 240)
// weighs the untouched input by j / 240. The plug-in runs through a fade
// into the bypass and stops at its end; in-place host buffers keep their
// input for the untouched signal. After activation the first block takes
// the flag as it is.
TEST(BaseHostBypass, SwitchesAlongAFiveMillisecondFade)
{
  for (bool is32 : {false, true})
  {
    SCOPED_TRACE(is32 ? "32-bit" : "64-bit");
    HalvingPlug plug;
    plug.SetInputChannelConnections(0, 2, true);
    plug.SetOutputChannelConnections(0, 2, true);
    plug.SetSampleRate(48000.0);
    plug.SetBlockSize(100);
    const double x = 0.75; // exact in both widths, as is every output below
    std::vector<double> out;
    auto run = [&](int n) {
      std::vector<double> buf0(n, x), buf1(n, -x);
      std::vector<float> f0(n, (float)x), f1(n, (float)-x);
      double* io[2] = {buf0.data(), buf1.data()}; // one buffer in and out
      float* fio[2] = {f0.data(), f1.data()};
      if (is32)
      {
        plug.AttachInputBuffers(0, 2, fio, n);
        plug.AttachOutputBuffers(0, 2, fio);
        plug.RunBuffers(0.0f, n);
      }
      else
      {
        plug.AttachInputBuffers(0, 2, io, n);
        plug.AttachOutputBuffers(0, 2, io);
        plug.RunBuffers(0.0, n);
      }
      for (int s = 0; s < n; ++s)
      {
        const double l = is32 ? f0[s] : buf0[s], r = is32 ? f1[s] : buf1[s];
        ASSERT_EQ(-l, r) << s;
        out.push_back(l);
      }
    };
    run(100);
    plug.SetHostBypass(true);
    for (int b = 0; b < 4; ++b) run(100);
    EXPECT_EQ(plug.mProcessed, 100 + 240);
    EXPECT_EQ(plug.mBypassed, 400 - 240);
    plug.SetHostBypass(false);
    for (int b = 0; b < 3; ++b) run(100);
    EXPECT_EQ(plug.mProcessed, 100 + 240 + 300);
    ASSERT_EQ(out.size(), 800u);
    for (int i = 0; i < 800; ++i)
    {
      double w = 0.0; // weight of the input
      if (i >= 100 && i < 340) w = (i - 99) / 240.0;
      else if (i >= 340 && i < 500) w = 1.0;
      else if (i >= 500 && i < 740) w = (739 - i) / 240.0;
      const double expected = 0.5 * x * (1.0 - w) + x * w;
      ASSERT_NEAR(expected, out[(size_t)i], 1e-6) << "frame " << i;
      if (w == 0.0 || w == 1.0)
      {
        ASSERT_EQ(expected, out[(size_t)i]) << "frame " << i;
      }
    }

    // Switched while inactive: the first block after activation is already
    // bypassed, with nothing processed.
    plug.SetHostBypass(true);
    plug.OnActivate(true);
    out.clear();
    const long processed = plug.mProcessed;
    run(100);
    EXPECT_EQ(plug.mProcessed, processed);
    for (double v : out) ASSERT_EQ(x, v);
  }
}
