#pragma once

// What the module entry and the factory need from the plug-in that the
// module carries. The plug-in supplies MakePlug (fx/IFxBase.h), the module
// its MakeEditor (graphics/IGraphics.h), and these two functions and the
// class record's texts and IDs.

bool InitModule();
bool DeinitModule();

struct IFxVST3ClassDef
{
  const char* vendor;         // factory vendor
  const char* url;            // factory web address
  const char* email;          // factory contact address
  const char* name;           // class name shown to the user
  const char* subCategories;  // e.g. "Fx|Dynamics"
  int vendorVersion;          // packed major.minor.bug-fix
  int mfrID;                  // four-character vendor code
  int uniqueID;               // four-character plug-in code
};

// Defined by the plug-in.
const IFxVST3ClassDef& GetVST3ClassDef();

// The two fixed words that lead every class ID of this framework.
constexpr unsigned GUID_DATA1 = 0xF2AEE70D;
constexpr unsigned GUID_DATA2 = 0x00DE4F4E;

// Folder of the loaded bundle (".../Name.vst3"), empty before ModuleEntry
// or when the module was not loaded from a bundle.
const char* GetModuleBundlePath();
