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

  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const override;
  // Reads a decimal number from the start of the text (0 when there is
  // none); always succeeds.
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const override;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  IParam* GetWrappedParam() const { return mWrappedParam; }

private:
  IParam* mWrappedParam;
};

// ASCII to the host's 128-unit UTF-16 strings and back. Bytes above 127 are
// passed through as Latin-1 code points; narrowing keeps the low byte.
void WidenToString128(const char* in, Steinberg::Vst::String128 out);
void NarrowFromTChar(const Steinberg::Vst::TChar* in, char* out, int capacity);
