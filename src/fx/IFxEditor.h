#pragma once

// What the plug-in base and the plug-in need of their editor. The graphics
// core's IGraphics implements it; keeping it here lets the framework core own
// and drive an editor without depending on the graphics library.
class IFxEditor
{
public:
  virtual ~IFxEditor() {}

  // A parameter changed outside the editor (host, restore, automation).
  virtual void SetParameterFromPlug(int paramIdx, double value, bool normalized) = 0;
  // The plug-in sets a control's value directly (the meter, every sample frame).
  virtual void SetControlFromPlug(int controlIdx, double normalizedValue) = 0;
  // Creates the draw bitmaps once the controls are in place.
  virtual void PrepDraw() = 0;
  // An entry the editor added to a parameter's context menu was chosen.
  virtual void OnParamMenuEntry(int paramIdx, int entryId) { (void)paramIdx, (void)entryId; }
};
