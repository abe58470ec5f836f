#include "EditorSnapshot.h"

#include <memory>
#include <vector>

#include "LinkedTavlo.h"
#include "fx/ByteChunk.h"
#include "fx/IFxBase.h"
#include "fx/IFxStateTail.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/TavloEditor.h"

bool EditorSnapshot::Supports(const PluginSession& plug)
{
  Steinberg::TUID cid;
  std::vector<double> meters;
  return plug.ClassId(cid) && IsLinkedTavlo(cid) && plug.MeterValues(meters);
}

bool EditorSnapshot::Write(PluginSession& rendered, const std::string& path, std::string& error)
{
  std::vector<uint8_t> state;
  std::vector<double> meters;
  if (!rendered.GetState(state, error)) return false;
  // A bundle of this program's build reports them; one built from other
  // code may not, and its picture is not drawn from guesses.
  if (!rendered.MeterValues(meters))
  {
    error = "the plug-in does not report its meters (the bundle was built from other code); no snapshot taken";
    return false;
  }

  // The state's leading values, then the tail with the parameters added
  // since and the A/B slots, read as the plug-in reads them: the tail's
  // bytes are no parameter values.
  std::unique_ptr<IFxBase> table(MakeParamTable());
  const int64_t size = (int64_t)state.size(), tailAt = IFxStateTail::Find(state.data(), size);
  IFxStateTail tail;
  if (tailAt >= 0) tail.ReadFrom(state.data() + tailAt, size - tailAt);
  const int leading = (int)(tailAt >= 0 ? tailAt : size);
  ByteChunk chunk;
  bool read = false;
  if (table && chunk.AppendBytes(state.data(), leading) == leading)
  {
    IFxBase::ParamBatch batch(*table);
    read = table->UnserializeHostState(&chunk, tail) >= 0;
  }
  if (!read)
  {
    error = "the plug-in's state is not one this program's editor reads (the bundle was built from other code); "
            "no snapshot taken";
    return false;
  }
  // The needle; the table derives the meters that follow it.
  for (int m = 0; m < (int)meters.size() && m < table->MeterCount(); ++m) table->SetMeterValue(m, meters[(size_t)m]);

  const std::string resources = TavloResourceFolderFor(rendered.SoPath().c_str());
  table->AttachGraphics(MakeTavloHeadlessEditor(table.get(), resources.c_str()));
  if (!table->GetGraphics())
  {
    error = "the plug-in has no editor";
    return false;
  }
  if (!RenderEditorToPNG(table.get(), path.c_str()))
  {
    error = "cannot write snapshot " + path;
    return false;
  }
  return true;
}
