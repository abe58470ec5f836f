// IFxBase surface this product builds but never runs: MIDI note names and
// lists, state comparison, transport details, version and API strings,
// channel labels, presets from chunks, blobs and named values, preset banks,
// and the developer dumps of preset source text. Nothing in src/, plugins/
// or tools/ calls these (the tests pin them); they are kept apart so that
// IFxBase.cpp shows what runs.

#include "fx/IFxBase.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "fx/Log.h"
#include "kit/KitBase64.h"

namespace
{
const double kUnsetMarker = 9.999e-8;
}  // namespace

// ---------------------------------------------------------------------------
// MIDI and state comparison

bool IFxBase::MidiNoteName(int noteNumber, char* noteName)
{
  (void)noteNumber;
  if (noteName) *noteName = '\0';
  return false;
}

bool IFxBase::CompareState(const unsigned char* incomingState, int startPos)
{
  int n = ParamCount();
  if (n == 0) return true;
  if (!incomingState || startPos < 0) return false;
  for (int i = 0; i < n; ++i)
  {
    double stored;
    // memcpy: the caller's bytes need not be aligned for doubles.
    memcpy(&stored, incomingState + ((size_t)startPos + (size_t)i) * sizeof(double), sizeof(double));
    float diff = (float)ParamAt(i)->GetValue() - (float)stored;
    if (!(std::fabs(diff) < 1e-5f)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Transport

int IFxBase::GetSamplePos()
{
  ITimeInfo t;
  GetTime(&t);
  // Positions past int's range (hours into a session at high rates) are
  // cut as an int conversion of the host's 64-bit count would cut them.
  return (int)(long long)t.mSamplePos;
}

void IFxBase::GetTimeSig(int* pNum, int* pDenom)
{
  ITimeInfo t;
  GetTime(&t);
  if (pNum) *pNum = t.mNumerator;
  if (pDenom) *pDenom = t.mDenominator;
}

double IFxBase::GetSamplesPerBeat()
{
  double tempo = GetTempo();
  if (tempo > 0.0) return GetSampleRate() * 60.0 / tempo;
  return 0.0;
}

// ---------------------------------------------------------------------------
// Versions, API, channel labels and MIDI lists

int IFxBase::GetEffectVersion(bool decimal) const { return decimal ? GetDecimalVersion(mVersion) : mVersion; }

void IFxBase::GetEffectVersionStr(char* str) const { GetVersionStr(mVersion, str); }

int IFxBase::GetHostVersion(bool decimal)
{
  GetHost();
  return decimal ? GetDecimalVersion(mHostVersion) : mHostVersion;
}

void IFxBase::GetHostVersionStr(char* str)
{
  GetHost();
  GetVersionStr(mHostVersion, str);
}

const char* IFxBase::GetAPIString()
{
  switch (GetAPI())
  {
    case kAPIVST2: return "VST2";
    case kAPIVST3: return "VST3";
    case kAPIAU: return "AU";
    case kAPIRTAS: return "RTAS";
    case kAPIAAX: return "AAX";
    case kAPISA: return "Standalone";
    case kAPILV2: return "LV2";
    case kAPICLAP: return "CLAP";
    default: return "";
  }
}

void IFxBase::SetInputLabel(int idx, const char* label)
{
  if (InChannel* pIn = mInChannels.Get(idx)) pIn->mLabel.Set(label ? label : "");
}

void IFxBase::SetOutputLabel(int idx, const char* label)
{
  if (OutChannel* pOut = mOutChannels.Get(idx)) pOut->mLabel.Set(label ? label : "");
}

const char* IFxBase::GetInputLabel(int idx) const
{
  InChannel* pIn = mInChannels.Get(idx);
  return pIn ? pIn->mLabel.Get() : "";
}

const char* IFxBase::GetOutputLabel(int idx) const
{
  OutChannel* pOut = mOutChannels.Get(idx);
  return pOut ? pOut->mLabel.Get() : "";
}

bool IFxBase::SendMidiMsgs(KitTypedBuf<IMidiMsg>* pMsgs)
{
  bool ok = true;
  if (!pMsgs) return ok;
  IMidiMsg* pMsg = pMsgs->Get();
  for (int i = 0, n = pMsgs->GetSize(); i < n; ++i, ++pMsg) ok &= SendMidiMsg(pMsg);
  return ok;
}

// ---------------------------------------------------------------------------
// Presets

void IFxBase::MakePresetFromNamedParams(const char* name, int nParamsNamed, ...)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();

  int n = ParamCount();
  KitTypedBuf<double> vals;
  vals.Resize(n);
  for (int i = 0; i < n && vals.Get(); ++i) vals.Get()[i] = kUnsetMarker;

  va_list vp;
  va_start(vp, nParamsNamed);
  for (int i = 0; i < nParamsNamed; ++i)
  {
    int paramIdx = va_arg(vp, int);
    // The type of the value that follows an unknown index cannot be known,
    // so nothing after it can be read safely.
    if (paramIdx < 0 || paramIdx >= n) break;
    double v;
    if (ParamAt(paramIdx)->GetType() == IParam::kTypeDouble)
      v = va_arg(vp, double);
    else
      v = (double)va_arg(vp, int);
    vals.Get()[paramIdx] = v;
  }
  va_end(vp);

  for (int i = 0; i < n; ++i)
  {
    double v = vals.Get()[i];
    if (v == kUnsetMarker) v = ParamAt(i)->GetValue();
    pPreset->mChunk.Append(v);
  }
}

void IFxBase::MakePresetFromChunk(const char* name, ByteChunk* pChunk)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();
  pPreset->mChunk.AppendChunk(pChunk);
}

void IFxBase::MakePresetFromBlob(const char* name, const char* blob, int sizeOfChunk)
{
  IPreset* pPreset = GetNextUninitializedPreset();
  if (!pPreset) return;
  pPreset->mInitialized = true;
  pPreset->SetName(name);
  pPreset->mChunk.Clear();
  if (sizeOfChunk <= 0) return;
  if (pPreset->mChunk.Resize(sizeOfChunk) != sizeOfChunk) return;
  KitBase64Decode(blob ? blob : "", -1, pPreset->mChunk.Data(), sizeOfChunk);
}

void IFxBase::EnsureDefaultPreset()
{
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    if (pPreset->mInitialized) continue;
    pPreset->mInitialized = true;
    pPreset->SetName("Empty");
    pPreset->mChunk.Clear();
    SerializeState(&pPreset->mChunk);
  }
}

void IFxBase::PruneUninitializedPresets()
{
  for (int i = PresetCount() - 1; i >= 0; --i)
    if (!mPresets.Get(i)->mInitialized) mPresets.Delete(i, true);
}

void IFxBase::ModifyCurrentPreset(const char* name)
{
  IPreset* pPreset = mPresets.Get(mCurrentPresetIdx);
  if (!pPreset) return;
  pPreset->mChunk.Clear();
  SerializeState(&pPreset->mChunk);
  if (name && *name) pPreset->SetName(name);
  Trace(__FUNCTION__, __LINE__, "%d %s", mCurrentPresetIdx.load(), pPreset->mName);
}

bool IFxBase::SerializePresets(ByteChunk* pChunk)
{
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    Trace(__FUNCTION__, __LINE__, "%d %s", i, pPreset->mName);
    pChunk->AppendString(pPreset->mName);
    pChunk->Append(pPreset->mInitialized);
    if (pPreset->mInitialized) pChunk->AppendChunk(&pPreset->mChunk);
  }
  return true;
}

int IFxBase::UnserializePresets(ByteChunk* pChunk, int startPos)
{
  int pos = startPos;
  KitString name;
  for (int i = 0, n = PresetCount(); i < n && pos >= 0; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    pos = pChunk->ReadString(&name, pos);
    if (pos < 0 || pos > pChunk->Size()) return FinishUnserializePresets(-1);
    // Over-long names are cut to the slot.
    pPreset->SetName(name.Get());
    Trace(__FUNCTION__, __LINE__, "%d %s", i, pPreset->mName);

    bool initialized = false;
    pos = pChunk->Read(&initialized, pos);
    if (pos < 0) break;
    pPreset->mInitialized = initialized;

    if (pPreset->mInitialized)
    {
      pos = UnserializeState(pChunk, pos);
      if (pos > 0)
      {
        // Store the values as the current ranges clamped them.
        pPreset->mChunk.Clear();
        SerializeState(&pPreset->mChunk);
      }
    }
  }
  return FinishUnserializePresets(pos);
}

int IFxBase::FinishUnserializePresets(int pos)
{
  RestorePreset(mCurrentPresetIdx);
  return pos;
}

// ---------------------------------------------------------------------------
// Dumps

namespace
{
// Writes the base64 text of a chunk; the buffer fits any chunk size.
void WriteBase64(FILE* fp, const ByteChunk& chunk)
{
  int len = KitBase64EncodedLen(chunk.Size());
  if (len < 0) len = 0;
  KitTypedBuf<char> text;
  if (!text.Resize(len + 1)) return;
  if (KitBase64Encode(chunk.Data(), chunk.Size(), text.Get(), len + 1) < 0) text.Get()[0] = '\0';
  fprintf(fp, "%s\", %i);\n", text.Get(), chunk.Size());
}
}  // namespace

void IFxBase::DumpPresetSrcCode(const char* filename, const char* paramEnumNames[])
{
  FILE* fp = filename ? fopen(filename, "w") : nullptr;
  if (!fp) return;
  int n = ParamCount();
  fprintf(fp, "  MakePresetFromNamedParams(\"name\", %d", n);
  for (int i = 0; i < n; ++i)
  {
    IParam* pParam = ParamAt(i);
    const char* id = (paramEnumNames && paramEnumNames[i]) ? paramEnumNames[i] : "";
    double v = pParam->GetValue();
    char valText[64];
    switch (pParam->GetType())
    {
      case IParam::kTypeBool: snprintf(valText, sizeof(valText), "%s", v >= 0.5 ? "true" : "false"); break;
      case IParam::kTypeInt:
      case IParam::kTypeEnum: snprintf(valText, sizeof(valText), "%d", (int)v); break;
      default: snprintf(valText, sizeof(valText), "%.6f", v); break;
    }
    fprintf(fp, ",\n    %s, %s", id, valText);
  }
  fprintf(fp, ");\n");
  fclose(fp);
}

void IFxBase::DumpPresetBlob(const char* filename)
{
  IPreset* pPreset = mPresets.Get(mCurrentPresetIdx);
  if (!pPreset || !filename) return;
  FILE* fp = fopen(filename, "w");
  if (!fp) return;
  fprintf(fp, "MakePresetFromBlob(\"name\", \"");
  WriteBase64(fp, pPreset->mChunk);
  fclose(fp);
}

void IFxBase::DumpBankBlob(const char* filename)
{
  FILE* fp = filename ? fopen(filename, "w") : nullptr;
  if (!fp) return;
  for (int i = 0, n = PresetCount(); i < n; ++i)
  {
    IPreset* pPreset = mPresets.Get(i);
    fprintf(fp, "MakePresetFromBlob(\"%s\", \"", pPreset->mName);
    WriteBase64(fp, pPreset->mChunk);
  }
  fclose(fp);
}
