#pragma once

// What the CLAP module's factory needs from the plug-in it carries. Needs
// no CLAP header, so the plug-in's own module file can define it.

struct IFxCLAPClassDef
{
  const char* id;           // reverse-domain, stable: hosts' sessions refer to it
  const char* name;
  const char* vendor;
  const char* url;
  const char* manualUrl;
  const char* supportUrl;
  const char* description;
  const char* const* features;  // CLAP feature words, null-terminated
  int vendorVersion;        // packed major.minor.bug-fix, shown as "3.3.0"
  int bypassParam;          // the plug-in's own bypass switch, or -1
};

// Defined by the plug-in.
const IFxCLAPClassDef& GetCLAPClassDef();
