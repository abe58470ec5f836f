// Writes the factory presets of a built VST 3 bundle as .vstpreset files,
// one per program of its program list, named after the program, the way a
// host saves a preset: the program is selected through the preset
// parameter, and the file holds the state getState then writes.
//   tavlo-vst3-presets BUNDLE FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/Vst3Host.h"
#include "host/VstPresetFile.h"

using namespace Steinberg;

namespace {

int Fail(const std::string& message)
{
  fprintf(stderr, "tavlo-vst3-presets: %s\n", message.c_str());
  return 1;
}

// A program name as a file name: no folder separators, no leading dot.
std::string FileName(std::string name)
{
  for (char& c : name)
    if (c == '/' || c == '\\') c = '-';
  if (name.empty() || name[0] == '.') name.insert(0, "_");
  return name + ".vstpreset";
}

// The parameter that selects a program, as hosts find it.
Vst::ParamID FindProgramParam(const vst3host::Instance& inst)
{
  Vst::ParamID programParam = Vst::kNoParamId;
  for (int32 i = 0, n = inst.controller->getParameterCount(); i < n; ++i)
  {
    Vst::ParameterInfo info;
    if (inst.controller->getParameterInfo(i, info) == kResultOk && (info.flags & Vst::ParameterInfo::kIsProgramChange))
      programParam = info.id;
  }
  return programParam;
}

int32 ProgramCount(Vst::IUnitInfo* units, Vst::ProgramListID listId)
{
  int32 count = 0;
  for (int32 i = 0; i < units->getProgramListCount(); ++i)
  {
    Vst::ProgramListInfo list;
    if (units->getProgramListInfo(i, list) == kResultOk && list.id == listId) count = list.programCount;
  }
  return count;
}

// Selects program k and writes the state it leaves as a preset file in
// folder; 0, or the exit code of the failure.
int WriteProgram(vst3host::Instance& inst, Vst::IUnitInfo* units, Vst::ProgramListID listId, Vst::ParamID programParam,
                 const TUID cid, int32 k, const std::filesystem::path& folder)
{
  Vst::String128 name = {};
  if (units->getProgramName(listId, k, name) != kResultOk) return Fail("program " + std::to_string(k) + " has no name");
  // A process call with no audio carries the parameter change, as hosts
  // flush parameters.
  vst3host::ParameterChanges changes;
  changes.Add(programParam, inst.controller->plainParamToNormalized(programParam, (double)k));
  Vst::ProcessData data;
  data.inputParameterChanges = &changes;
  inst.processor->process(data);
  vst3host::MemoryStream state;
  if (inst.component->getState(&state) != kResultOk) return Fail("getState failed for program " + std::to_string(k));
  const std::vector<uint8_t> file = vst3host::MakeVstPreset(cid, state.Data());
  const std::filesystem::path path = folder / FileName(vst3host::ToAscii(name));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write((const char*)file.data(), (std::streamsize)file.size());
  out.close();
  if (!out) return Fail("cannot write " + path.string());
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3)
  {
    fprintf(stderr, "usage: %s BUNDLE FOLDER\n", argc > 0 ? argv[0] : "tavlo-vst3-presets");
    return 2;
  }
  vst3host::Module module(argv[1]);
  if (!module.IsLoaded()) return Fail("cannot load " + std::string(argv[1]) + ": " + module.Error());
  TUID cid;
  if (!module.FirstAudioClass(cid)) return Fail("no audio effect class in " + std::string(argv[1]));
  vst3host::Instance inst(module.Factory(), cid);
  if (!inst) return Fail("the plug-in could not be created");
  vst3host::HostApplication app("tavlo-vst3-presets");
  if (inst.component->initialize(&app) != kResultOk) return Fail("initialize failed");

  int rc = 0;
  Vst::IUnitInfo* units = nullptr;
  Vst::UnitInfo root;
  const Vst::ParamID programParam = FindProgramParam(inst);
  if (inst.controller->queryInterface(Vst::IUnitInfo::iid, (void**)&units) != kResultOk || !units ||
      units->getUnitInfo(0, root) != kResultOk || root.programListId == Vst::kNoProgramListId ||
      programParam == Vst::kNoParamId)
    rc = Fail("the plug-in offers no program list with a program parameter");

  const int32 count = rc == 0 ? ProgramCount(units, root.programListId) : 0;
  std::error_code ec;
  const std::filesystem::path folder = argv[2];
  if (rc == 0)
  {
    // Only this run's files: a program renamed since leaves no stale one.
    std::filesystem::create_directories(folder, ec);
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
      if (e.path().extension() == ".vstpreset") std::filesystem::remove(e.path(), ec);
  }
  for (int32 k = 0; rc == 0 && k < count; ++k)
    rc = WriteProgram(inst, units, root.programListId, programParam, cid, k, folder);
  if (rc == 0 && count == 0) rc = Fail("the program list is empty");
  if (units) units->release();
  inst.component->terminate();
  return rc;
}
