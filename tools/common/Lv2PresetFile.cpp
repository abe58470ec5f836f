#include "Lv2PresetFile.h"

#include <serd/serd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <map>
#include <unordered_map>

namespace {

// A preset file is a few kilobytes; anything this large is something else.
constexpr off_t kMaxTurtleBytes = 4 << 20;
// A preset nests a port's description in the preset's, two or three levels;
// the Turtle reader recurses once per level and would run out of stack
// long before the size limit.
constexpr int kMaxNesting = 32;

const std::string kRdfType = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type";
const std::string kPresetClass = "http://lv2plug.in/ns/ext/presets#Preset";
const std::string kAppliesTo = "http://lv2plug.in/ns/lv2core#appliesTo";
const std::string kPort = "http://lv2plug.in/ns/lv2core#port";
const std::string kSymbol = "http://lv2plug.in/ns/lv2core#symbol";
const std::string kValue = "http://lv2plug.in/ns/ext/presets#value";
const std::string kLabel = "http://www.w3.org/2000/01/rdf-schema#label";
const std::string kSeeAlso = "http://www.w3.org/2000/01/rdf-schema#seeAlso";

struct Triple
{
  std::string s, p, o;
  bool literal = false;  // o is a literal's text
};

struct Reading
{
  SerdEnv* env = nullptr;
  std::vector<Triple> triples;
  std::string error;
};

// A node as text: URIs whole and resolved against the base, blank nodes
// as "_:id", literals as their text; empty for an undefined prefix.
std::string NodeText(const SerdEnv* env, const SerdNode* n)
{
  if (n->type == SERD_URI || n->type == SERD_CURIE)
  {
    SerdNode whole = serd_env_expand_node(env, n);
    if (!whole.buf) return "";
    const std::string s((const char*)whole.buf, whole.n_bytes);
    serd_node_free(&whole);
    return s;
  }
  const std::string s((const char*)n->buf, n->n_bytes);
  return n->type == SERD_BLANK ? "_:" + s : s;
}

SerdStatus OnBase(void* handle, const SerdNode* uri)
{
  return serd_env_set_base_uri(static_cast<Reading*>(handle)->env, uri);
}

SerdStatus OnPrefix(void* handle, const SerdNode* name, const SerdNode* uri)
{
  return serd_env_set_prefix(static_cast<Reading*>(handle)->env, name, uri);
}

SerdStatus OnStatement(void* handle, SerdStatementFlags, const SerdNode*, const SerdNode* subject,
                       const SerdNode* predicate, const SerdNode* object, const SerdNode*, const SerdNode*)
{
  Reading* r = static_cast<Reading*>(handle);
  Triple t;
  t.s = NodeText(r->env, subject);
  t.p = NodeText(r->env, predicate);
  t.o = NodeText(r->env, object);
  t.literal = object->type == SERD_LITERAL;
  if (t.s.empty() || t.p.empty() || (t.o.empty() && !t.literal))
  {
    r->error = "a name with an undefined prefix";
    return SERD_ERR_BAD_CURIE;
  }
  r->triples.push_back(std::move(t));
  return SERD_SUCCESS;
}

SerdStatus OnError(void* handle, const SerdError* e)
{
  Reading* r = static_cast<Reading*>(handle);
  char buf[512];
  va_list args;
  va_copy(args, *e->args);
  vsnprintf(buf, sizeof(buf), e->fmt, args);
  va_end(args);
  std::string what = buf;
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  if (r->error.empty()) r->error = "line " + std::to_string(e->line) + ": " + what;
  return SERD_SUCCESS;
}

bool ReadSmallFile(const std::string& path, std::string& bytes, std::string& error)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
  {
    error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxTurtleBytes)
  {
    error = path + (S_ISREG(st.st_mode) ? " is too large for a preset" : " is not a file");
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  if (!f.good() && !f.eof())
  {
    error = "cannot read " + path;
    return false;
  }
  bytes = ss.str();
  if (bytes.find('\0') != std::string::npos)
  {
    error = path + " is not Turtle text";
    return false;
  }
  return true;
}

// How deep the text nests brackets and parentheses, outside strings, IRIs
// and comments.
int NestingDepth(const std::string& t)
{
  int depth = 0, deepest = 0;
  for (size_t i = 0; i < t.size(); ++i)
  {
    const char c = t[i];
    if (c == '#')
      i = std::min(t.find('\n', i), t.size());
    else if (c == '<')
      i = std::min(t.find('>', i + 1), t.size());
    else if (c == '"' || c == '\'')
    {
      const bool triple = t.compare(i, 3, std::string(3, c)) == 0;
      const std::string close = triple ? std::string(3, c) : std::string(1, c);
      size_t j = i + close.size();
      for (; j < t.size() && t.compare(j, close.size(), close) != 0; ++j)
        if (t[j] == '\\') ++j;
      i = std::min(j + close.size() - 1, t.size());
    }
    else if (c == '[' || c == '(')
      deepest = std::max(deepest, ++depth);
    else if ((c == ']' || c == ')') && depth > 0)
      --depth;
  }
  return deepest;
}

// The statements of a Turtle file, its relative names resolved against
// the file's own URI, which is returned in fileUri.
bool ParseTurtle(const std::string& path, std::vector<Triple>& triples, std::string& fileUri, std::string& error)
{
  std::string text;
  if (!ReadSmallFile(path, text, error)) return false;
  if (NestingDepth(text) > kMaxNesting)
  {
    error = path + " nests brackets more than " + std::to_string(kMaxNesting) + " deep, which no preset does";
    return false;
  }
  char* real = realpath(path.c_str(), nullptr);
  if (!real)
  {
    error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  SerdNode base = serd_node_new_file_uri((const uint8_t*)real, nullptr, nullptr, true);
  free(real);
  fileUri.assign((const char*)base.buf, base.n_bytes);

  Reading r;
  r.env = serd_env_new(&base);
  SerdReader* reader = serd_reader_new(SERD_TURTLE, &r, nullptr, OnBase, OnPrefix, OnStatement, nullptr);
  serd_reader_set_error_sink(reader, OnError, &r);
  const SerdStatus st = serd_reader_read_string(reader, (const uint8_t*)text.c_str());
  serd_reader_free(reader);
  serd_env_free(r.env);
  serd_node_free(&base);
  if (st != SERD_SUCCESS || !r.error.empty())
  {
    error = "cannot read " + path + " as Turtle: " + (r.error.empty() ? (const char*)serd_strerror(st) : r.error);
    return false;
  }
  triples = std::move(r.triples);
  return true;
}

// The statements by subject, in the order read: a preset's ports and their
// symbols and values are found without scanning every statement again.
struct Index
{
  explicit Index(const std::vector<Triple>& t) : triples(t)
  {
    for (size_t i = 0; i < t.size(); ++i) bySubject[t[i].s].push_back(i);
  }
  const std::vector<size_t>& Of(const std::string& s) const
  {
    static const std::vector<size_t> none;
    const auto it = bySubject.find(s);
    return it == bySubject.end() ? none : it->second;
  }
  const Triple* First(const std::string& s, const std::string& p) const
  {
    for (size_t i : Of(s))
      if (triples[i].p == p) return &triples[i];
    return nullptr;
  }
  const std::vector<Triple>& triples;
  std::unordered_map<std::string, std::vector<size_t>> bySubject;
};

bool ParseNumber(const std::string& text, double& v)
{
  char* end = nullptr;
  errno = 0;
  v = strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && errno != ERANGE && std::isfinite(v);
}

// The presets among the statements; false with the reason when a port's
// value is not a number.
bool FindPresets(const std::vector<Triple>& triples, std::vector<Lv2Preset>& presets,
                 std::vector<std::vector<std::string>>& seeAlso, std::string& error)
{
  const Index index(triples);
  for (const Triple& t : triples)
  {
    if (t.p != kRdfType || t.o != kPresetClass || t.literal) continue;
    Lv2Preset p;
    p.uri = t.s;
    if (const Triple* l = index.First(p.uri, kLabel)) p.label = l->o;
    if (const Triple* a = index.First(p.uri, kAppliesTo)) p.plugin = a->o;
    std::vector<std::string> also;
    for (size_t k : index.Of(p.uri))
    {
      const Triple& u = triples[k];
      if (u.p == kSeeAlso && !u.literal) also.push_back(u.o);
      if (u.p != kPort || u.literal) continue;
      const Triple* symbol = index.First(u.o, kSymbol);
      const Triple* value = index.First(u.o, kValue);
      if (!symbol || !value) continue;  // a port the preset gives no value
      double v = 0.0;
      if (!ParseNumber(value->o, v))
      {
        error = "port " + symbol->o + " has the value '" + value->o + "', not a number";
        return false;
      }
      p.ports.push_back({symbol->o, v});
    }
    presets.push_back(std::move(p));
    seeAlso.push_back(std::move(also));
  }
  return true;
}

}  // namespace

bool ReadLv2Presets(const std::string& path, std::vector<Lv2Preset>& presets, std::string& error)
{
  presets.clear();
  std::vector<Triple> triples;
  std::string fileUri;
  std::vector<std::vector<std::string>> seeAlso;
  if (!ParseTurtle(path, triples, fileUri, error)) return false;
  if (!FindPresets(triples, presets, seeAlso, error))
  {
    error = path + ": " + error;
    presets.clear();
    return false;
  }
  // A manifest names a preset and where it is described: read that file
  // for the values (one step, files only), each file once however many
  // presets it describes.
  std::map<std::string, std::map<std::string, Lv2Preset>> described;  // by file, then preset URI
  for (size_t i = 0; i < presets.size(); ++i)
  {
    Lv2Preset& p = presets[i];
    if (!p.ports.empty()) continue;
    for (const std::string& uri : seeAlso[i])
    {
      if (uri == fileUri || uri.compare(0, 7, "file://") != 0) continue;
      uint8_t* file = serd_file_uri_parse((const uint8_t*)uri.c_str(), nullptr);
      if (!file) continue;
      const std::string other = (const char*)file;
      serd_free(file);
      auto it = described.find(other);
      if (it == described.end())
      {
        std::vector<Triple> more;
        std::string otherUri, why;
        std::vector<Lv2Preset> found;
        std::vector<std::vector<std::string>> unused;
        if (!ParseTurtle(other, more, otherUri, error) || !FindPresets(more, found, unused, why))
        {
          if (!why.empty()) error = other + ": " + why;
          presets.clear();
          return false;
        }
        std::map<std::string, Lv2Preset> byUri;
        for (Lv2Preset& f : found) byUri[f.uri] = std::move(f);  // the last of a URI, as before
        it = described.emplace(other, std::move(byUri)).first;
      }
      const auto f = it->second.find(p.uri);
      if (f == it->second.end()) continue;
      if (p.label.empty()) p.label = f->second.label;
      if (p.plugin.empty()) p.plugin = f->second.plugin;
      p.ports = f->second.ports;
    }
  }
  return true;
}
