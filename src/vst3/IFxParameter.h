#pragma once

#include "public.sdk/source/vst/vstparameters.h"

class IParam;

// Presents one IParam to the host. The IParam stays the one place the value
// lives; this object only describes it and converts values and texts.
class IFxParameter : public Steinberg::Vst::Parameter
{
public:
  IFxParameter(IParam* param, unsigned tag, int unitId);
  ~IFxParameter() override;

  OBJ_METHODS(IFxParameter, Parameter)

  // The number in the parameter's unit, without the unit ("5.0" for 5 ms,
  // "-3.0"; a switch's word, "On"), which hosts show beside the units
  // field; an ASCII minus so that the text reads back.
  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const override;
  // With a unit: what ReadParamUnit reads, a bare number in the unit shown,
  // limited to the range; false for text that is no value. Without one: a
  // decimal number from the start of the text (0 when there is none).
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const override;
  // Plain values in the unit the units field names: milliseconds for the
  // times the parameter keeps in seconds.
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  IParam* GetWrappedParam() const { return mWrappedParam; }

private:
  IParam* mWrappedParam;
};

// What toString and fromString do, for a parameter whether or not the host
// parameters exist yet.
void ParamStringForHost(const IParam& param, Steinberg::Vst::ParamValue valueNormalized,
                        Steinberg::Vst::String128 string);
bool ParamValueFromHost(const IParam& param, const Steinberg::Vst::TChar* string,
                        Steinberg::Vst::ParamValue& valueNormalized);

// ASCII to the host's 128-unit UTF-16 strings and back. Bytes above 127 are
// passed through as Latin-1 code points; narrowing keeps the low byte.
void WidenToString128(const char* in, Steinberg::Vst::String128 out);
void NarrowFromTChar(const Steinberg::Vst::TChar* in, char* out, int capacity);
// The host's UTF-16 text as UTF-8, read up to its terminator or 128 units,
// cut at a whole character to fit capacity bytes; a lone surrogate becomes
// U+FFFD.
void Utf8FromTChar(const Steinberg::Vst::TChar* in, char* out, int capacity);
