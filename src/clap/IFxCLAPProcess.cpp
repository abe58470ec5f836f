// One host block: the host's events at their times through the block
// runner, the host's buffers by port, and the editor's events out.

#include <algorithm>
#include <cmath>

#include "clap/IFxCLAP.h"
#include "fx/IParam.h"

// The events of one block in the order the host lists them (by time), as
// the runner's schedule: every event takes effect at its time.
class IFxCLAP::InEvents
{
public:
  InEvents(IFxCLAP& owner, const clap_input_events_t* in)
    : mOwner(owner), mIn(in), mCount(in && in->size && in->get ? in->size(in) : 0)
  {
  }

  int ApplyDue(int frame)
  {
    for (; mNext < mCount; ++mNext)
    {
      const clap_event_header_t* e = mIn->get(mIn, mNext);
      if (!e) continue;
      // A host whose times go back has them applied in its order.
      const int time = (int)std::min<uint32_t>(e->time, (uint32_t)IFxBlockRunner::kNoneDue - 1);
      if (time > frame) return time;
      mOwner.ApplyEvent(e);
    }
    return IFxBlockRunner::kNoneDue;
  }

private:
  IFxCLAP& mOwner;
  const clap_input_events_t* mIn;
  uint32_t mCount;
  uint32_t mNext = 0;
};

void IFxCLAP::ApplyEvent(const clap_event_header_t* e)
{
  if (e->space_id != CLAP_CORE_EVENT_SPACE_ID || e->type != CLAP_EVENT_PARAM_VALUE ||
      e->size < sizeof(clap_event_param_value_t))
    return;
  const auto* ev = reinterpret_cast<const clap_event_param_value_t*>(e);
  // Meters are read-only, and a value that is no number sets nothing.
  if (ev->param_id >= (clap_id)mPlug->ParamCount() || !std::isfinite(ev->value)) return;
  const int idx = (int)ev->param_id;
  mPlug->ApplyParamValue(idx, ev->value / HostScale(idx), false);
}

template <typename T>
static T** PortData(const clap_audio_buffer_t& b);
template <>
float** PortData<float>(const clap_audio_buffer_t& b)
{
  return b.data32;
}
template <>
double** PortData<double>(const clap_audio_buffer_t& b)
{
  return b.data64;
}

template <typename T>
IFxBlockRunner::ChannelMask IFxCLAP::RunBlock(const clap_process_t* p, InEvents& events, std::vector<T*>& in,
                                              std::vector<T*>& out)
{
  // Channel c of port `port`, or null where the host gives none: a
  // side-chain left unconnected reads silence.
  auto channel = [](const clap_audio_buffer_t* ports, uint32_t nPorts, uint32_t port, int c) -> T*
  {
    if (!ports || port >= nPorts) return nullptr;
    T** data = PortData<T>(ports[port]);
    return data && (uint32_t)c < ports[port].channel_count ? data[c] : nullptr;
  };
  const int nIn = (int)in.size(), nSc = mPlug->SidechainChannelCount(), nMain = nIn - nSc;
  for (int c = 0; c < nIn; ++c)
    in[(size_t)c] = c < nMain ? channel(p->audio_inputs, p->audio_inputs_count, 0, c)
                              : channel(p->audio_inputs, p->audio_inputs_count, 1, c - nMain);
  for (size_t c = 0; c < out.size(); ++c) out[c] = channel(p->audio_outputs, p->audio_outputs_count, 0, (int)c);
  return mRunner.Run<T>(in.data(), out.data(), (int)p->frames_count, events);
}

clap_process_status IFxCLAP::Process(const clap_process_t* p)
{
  AssertAudioThread();
  if (!p) return CLAP_PROCESS_ERROR;
  if (const clap_event_transport_t* t = p->transport)
  {
    mTime.mTempo = (t->flags & CLAP_TRANSPORT_HAS_TEMPO) ? t->tempo : 0.0;
    mTime.mPPQPos = (t->flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) ? (double)t->song_pos_beats / CLAP_BEATTIME_FACTOR : 0.0;
    mTime.mLastBar = (t->flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) ? (double)t->bar_start / CLAP_BEATTIME_FACTOR : 0.0;
    mTime.mCycleStart = (double)t->loop_start_beats / CLAP_BEATTIME_FACTOR;
    mTime.mCycleEnd = (double)t->loop_end_beats / CLAP_BEATTIME_FACTOR;
    mTime.mNumerator = (t->flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) ? t->tsig_num : 0;
    mTime.mDenominator = (t->flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) ? t->tsig_denom : 0;
    mTime.mTransportIsRunning = (t->flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
    mTime.mTransportLoopEnabled = (t->flags & CLAP_TRANSPORT_IS_LOOP_ACTIVE) != 0;
  }
  else
    mTime = ITimeInfo();

  InEvents events(*this, p->in_events);
  // The block's sample size is its output's: 64-bit where the host gives
  // 64-bit buffers (every port shares the size).
  const bool is64 = p->audio_outputs_count > 0 && p->audio_outputs && p->audio_outputs[0].data64 &&
                    !p->audio_outputs[0].data32;
  IFxBlockGate::Entered inBlock(mPlug->BlockGate());
  IFxBlockRunner::ChannelMask silent;
  if (!inBlock)
  {
    // Another thread is setting the instance up: silence, and the values
    // taken all the same (a host sends a change once).
    events.ApplyDue(IFxBlockRunner::kNoneDue);
    for (uint32_t b = 0; p->audio_outputs && b < p->audio_outputs_count; ++b)
    {
      clap_audio_buffer_t& port = p->audio_outputs[b];
      for (uint32_t c = 0; c < port.channel_count; ++c)
      {
        if (is64 && port.data64 && port.data64[c]) std::fill_n(port.data64[c], p->frames_count, 0.0);
        if (!is64 && port.data32 && port.data32[c]) std::fill_n(port.data32[c], p->frames_count, 0.0f);
      }
      port.constant_mask = IFxBlockRunner::AllChannels((int)port.channel_count);
    }
    SendQueued(p->out_events);
    return CLAP_PROCESS_CONTINUE;
  }
  RestartIfPending();
  silent = is64 ? RunBlock<double>(p, events, mIn64, mOut64) : RunBlock<float>(p, events, mIn32, mOut32);
  // A channel of zeros is constant; the host may skip reading it.
  if (p->audio_outputs_count > 0 && p->audio_outputs)
    p->audio_outputs[0].constant_mask = silent & IFxBlockRunner::AllChannels((int)p->audio_outputs[0].channel_count);
  SendQueued(p->out_events);
  return CLAP_PROCESS_CONTINUE;
}

void IFxCLAP::Flush(const clap_input_events_t* in, const clap_output_events_t* out)
{
  // Outside processing the values wait for the next block, as any other.
  InEvents events(*this, in);
  events.ApplyDue(IFxBlockRunner::kNoneDue);
  SendQueued(out);
}
