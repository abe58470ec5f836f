#include "GraphicsTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "raster/PxBitmap.h"
#include "raster/PxBlit.h"
#include "raster/PxPng.h"

TestPlug::TestPlug(EAPI api)
  : IFxBase(kNumTestParams, "2-2", 1, "GfxTest", "GfxTest", "Tests", 0x10000, 0x47667854, 0x54657374, 0, false, false, false,
            api)
{
  ParamAt(kGain)->InitDouble("Gain", 0.0, -20.0, 20.0, 0.1, "dB");
  ParamAt(kMode)->InitEnum("Mode", 1, 3);
  ParamAt(kMode)->SetDisplayText(0, "soft");
  ParamAt(kMode)->SetDisplayText(1, "medium");
  ParamAt(kMode)->SetDisplayText(2, "hard");
  ParamAt(kSwitch)->InitBool("Switch", true);
  ParamAt(kMix)->InitDouble("Mix", 100.0, 0.0, 100.0, 1.0, "%");
}

void TestPlug::OnParamChange(int paramIdx)
{
  mLog.push_back("change " + std::to_string(paramIdx));
}

void TestPlug::PopupHostContextMenuForParam(int paramIdx, int x, int y)
{
  mLog.push_back("context " + std::to_string(paramIdx) + " " + std::to_string(x) + " " + std::to_string(y));
}

bool TestPlug::PopupParamMenu(int paramIdx, int x, int y, const IFxMenuEntry* entries, int nEntries)
{
  std::string s = "menu " + std::to_string(paramIdx) + " " + std::to_string(x) + " " + std::to_string(y);
  for (int i = 0; i < nEntries; ++i) s += (i ? "|" : " ") + std::string(entries[i].text);
  mLog.push_back(s);
  return mHostMenus;
}

void TestPlug::BeginInformHostOfParamChange(int paramIdx)
{
  mLog.push_back("begin " + std::to_string(paramIdx));
}

void TestPlug::InformHostOfParamChange(int paramIdx, double normalizedValue)
{
  mLog.push_back("edit " + std::to_string(paramIdx));
  mEdits.push_back(normalizedValue);
}

void TestPlug::EndInformHostOfParamChange(int paramIdx)
{
  mLog.push_back("end " + std::to_string(paramIdx));
}

void TestPlug::ResizeGraphics(int w, int h)
{
  mLog.push_back("resize " + std::to_string(w) + " " + std::to_string(h));
}

int TestPlug::Count(const std::string& prefix) const
{
  int n = 0;
  for (const std::string& s : mLog)
    if (s.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

namespace
{
void WriteStrip(const std::string& dir, const char* name, int fw, int fh, int n, bool horizontal,
                unsigned (*colour)(int) = FramePixel)
{
  int w = horizontal ? fw * n : fw, h = horizontal ? fh : fh * n;
  PxMemBitmap bmp(w, h, 4);
  for (int k = 1; k <= n; ++k)
  {
    int x = horizontal ? (k - 1) * fw : 0, y = horizontal ? 0 : (k - 1) * fh;
    PxFillRect(&bmp, x, y, fw, fh, colour(k), 1.0f, 0);
  }
  PxSavePNG((dir + "/" + name).c_str(), &bmp);
}
}  // namespace

const std::string& TestResourceDir()
{
  static std::string dir;
  if (!dir.empty()) return dir;
  char tmpl[] = "/tmp/tavlo-gfx-XXXXXX";
  char* made = mkdtemp(tmpl);
  dir = made ? made : "/tmp";

  WriteStrip(dir, "strip61.png", 10, 6, 61, false);
  WriteStrip(dir, "switch2.png", 12, 8, 2, false);
  WriteStrip(dir, "switch3.png", 12, 8, 3, false);
  WriteStrip(dir, "hstrip4.png", 10, 5, 4, true);
  WriteStrip(dir, "font.png", 6, 12, 8, false);
  WriteStrip(dir, "strip61@2x.png", 20, 12, 61, false, TwinPixel);
  WriteStrip(dir, "switch2@2x.png", 25, 33, 1, false);

  PxMemBitmap edge(8, 8, 4);
  PxFillRect(&edge, 0, 0, 4, 8, 0x0000FF00, 1.0f, 0);
  PxFillRect(&edge, 4, 0, 4, 8, 0xFFFF0000, 1.0f, 0);
  PxSavePNG((dir + "/edge.png").c_str(), &edge);

  PxMemBitmap bg(100, 80, 4);
  PxFillRect(&bg, 0, 0, 100, 80, 0xFF0A141E, 1.0f, 0);
  PxSavePNG((dir + "/bg.png").c_str(), &bg);

  PxMemBitmap alpha(4, 4, 4);
  PxFillRect(&alpha, 0, 0, 2, 4, 0x00000000, 1.0f, 0);
  PxFillRect(&alpha, 2, 0, 2, 4, 0x80FFFFFF, 1.0f, 0);
  PxSavePNG((dir + "/alpha.png").c_str(), &alpha);
  return dir;
}

EditorFixture::EditorFixture(int w, int h)
{
  plug = new TestPlug();
  gui = new IGraphicsHeadless(plug, w, h, 0, TestResourceDir().c_str());
}

EditorFixture::~EditorFixture()
{
  // The base deletes an attached editor; an unattached one is ours.
  if (plug->GetGraphics() != gui) delete gui;
  delete plug;
}
