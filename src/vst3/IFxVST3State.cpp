// The plug-in's state in a host's stream: the plug-in's own chunk, then the
// binding's tail.

#include "vst3/IFxVST3.h"

#include "fx/IFxStateTail.h"
#include "fx/IFxWholeState.h"
#include "fx/Log.h"
#include "pluginterfaces/base/ibstream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace
{

// IBStream may move fewer bytes than asked. Both loop until everything has
// moved, and fail when the stream reports an error or makes no progress.
bool ReadAll(IBStream* stream, uint8* data, int32 size)
{
  while (size > 0)
  {
    int32 got = 0;
    if (stream->read(data, size, &got) != kResultOk || got <= 0 || got > size) return false;
    data += got;
    size -= got;
  }
  return true;
}

bool WriteAll(IBStream* stream, const uint8* data, int32 size)
{
  while (size > 0)
  {
    int32 put = 0;
    if (stream->write((void*)data, size, &put) != kResultOk || put <= 0 || put > size) return false;
    data += put;
    size -= put;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// State

tresult IFxVST3::getEditorState(IBStream* state)
{
  if (!state) return kResultFalse;
  // A whole state, never half of one being restored on another thread.
  ByteChunk chunk;
  if (!IFxWholeState::Save(*mPlug, chunk)) return kResultFalse;
  // The stream is written holding nothing: however slow it is, edits and
  // audio go on.
  return WriteAll(state, chunk.Data(), chunk.Size()) ? kResultOk : kResultFalse;
}

tresult IFxVST3::setEditorState(IBStream* state)
{
  if (!state) return kResultFalse;
  ByteChunk chunk;
  const int size = IFxWholeState::LeadingSize(*mPlug);
  if (size <= 0) return kResultFalse;

  // A state is a project's memory: all of it arrives before any of it is
  // applied, or nothing changes. The stream is read holding nothing.
  int32 bypass = 0;
  if (chunk.Resize(size + (int)sizeof(bypass)) != size + (int)sizeof(bypass) ||
      !ReadAll(state, chunk.Data(), chunk.Size()))
    return kResultFalse;
  memcpy(&bypass, chunk.Data() + size, sizeof(bypass));
  chunk.Resize(size);
  ByteChunk rest;
  ReadTail(state, rest);
  IFxStateTail tail;
  tail.ReadFrom(rest.Data(), rest.Size());
  {
    // The audio thread takes all of it at the start of a block, or none.
    IFxBase::ParamBatch batch(*mPlug);
    if (mPlug->UnserializeHostState(&chunk, tail) < 0) return kResultFalse;
    SetBypassed(bypass != 0);
    // The preset chosen when it was saved; a state from before that was
    // kept names the factory preset its values are, if they are one.
    const int n = mPlug->PresetCount();
    const int preset = tail.preset >= 0 && tail.preset < n ? tail.preset : mPlug->PresetMatchingValues();
    if (preset >= 0)
    {
      mPlug->SetCurrentPresetIdx(preset);
      mPresetValue = n > 1 ? (double)preset / (n - 1) : 0.0;
    }
  }
  mPlug->RedrawParamControls();
  // The host is told after this call returns, never from inside it.
  ValuesChangedTogether();
  return kResultOk;
}

void IFxVST3::ReadTail(IBStream* stream, ByteChunk& tail)
{
  // Exactly the tail: a host's stream may go on after the state. Without
  // one, what was read is given back where the stream can seek.
  tail.Clear();
  if (tail.Resize(IFxStateTail::kHeaderSize) != IFxStateTail::kHeaderSize) return;
  const bool header = ReadAll(stream, tail.Data(), IFxStateTail::kHeaderSize);
  const int64_t body = header ? IFxStateTail::BodySize(tail.Data()) : -1;
  if (body < 0)
  {
    tail.Clear();
    if (header) stream->seek(-IFxStateTail::kHeaderSize, IBStream::kIBSeekCur, nullptr);
    return;
  }
  const int size = IFxStateTail::kHeaderSize + (int)body;
  if (tail.Resize(size) != size || !ReadAll(stream, tail.Data() + IFxStateTail::kHeaderSize, (int32)body)) tail.Clear();
}
