#include "platform/vcl/core/typinfo.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace vcl {
namespace {

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerChar(c);
  return r;
}

// Identifiers compare without regard to ASCII case; no copies, as lookups run per property.
bool SameIdent(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

struct Registry {
  std::mutex mu;
  std::vector<std::unique_ptr<ClassInfo>> classes;
  std::map<std::type_index, ClassInfo*> byType;
  std::map<std::string, ClassInfo*> byName;
  std::map<std::type_index, std::vector<std::pair<std::string, long long>>> enums;
  int paletteCount = 0;
};

Registry& Reg() {
  static Registry* r = new Registry;  // never destroyed: statics of other units may use it late
  return *r;
}

// The core classes are there before any other registers, whatever the order of static
// initialisation across units.
void EnsureCore() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterCoreClasses();
}

}  // namespace

bool FormValue::operator==(const FormValue& o) const {
  if (kind != o.kind) {
    if (kind == Kind::Int && o.kind == Kind::Float) return static_cast<double>(i) == o.f;
    if (kind == Kind::Float && o.kind == Kind::Int) return f == static_cast<double>(o.i);
    return false;
  }
  switch (kind) {
    case Kind::Unset: return true;
    case Kind::Int: return i == o.i;
    case Kind::Float: return f == o.f;
    case Kind::String:
    case Kind::Binary: return s == o.s;
    case Kind::Ident: return SameIdent(s, o.s);
    case Kind::Set: {
      if (set.size() != o.set.size()) return false;
      for (size_t k = 0; k < set.size(); ++k)
        if (!SameIdent(set[k], o.set[k])) return false;
      return true;
    }
    case Kind::List: return list == o.list;
    case Kind::Collection: return items == o.items;
  }
  return false;
}

namespace {
std::string QuoteString(const std::string& s) {
  // Printable runs in quotes, other bytes as #nn, as the framework writes them.
  std::string out;
  bool inQuote = false;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127) {
      if (!inQuote) out += '\'';
      inQuote = true;
      out += static_cast<char>(c);
      if (c == '\'') out += '\'';
    } else {
      if (inQuote) out += '\'';
      inQuote = false;
      out += '#' + std::to_string(c);
    }
  }
  if (inQuote) out += '\'';
  if (out.empty()) out = "''";
  return out;
}
}  // namespace

std::string FormValue::Text() const {
  switch (kind) {
    case Kind::Unset: return "";
    case Kind::Int: return std::to_string(i);
    case Kind::Float: {
      std::string t = AnsiString(f).str();
      if (t.find_first_of(".eE") == std::string::npos) t += ".0";
      return t;
    }
    case Kind::String: return QuoteString(s);
    case Kind::Ident: return s;
    case Kind::Set: {
      std::string t = "[";
      for (size_t k = 0; k < set.size(); ++k) t += (k ? ", " : "") + set[k];
      return t + "]";
    }
    case Kind::List: {
      std::string t = "(";
      for (size_t k = 0; k < list.size(); ++k) t += (k ? " " : "") + list[k].Text();
      return t + ")";
    }
    case Kind::Binary: {
      static const char* hex = "0123456789ABCDEF";
      std::string t = "{";
      for (unsigned char c : s) {
        t += hex[c >> 4];
        t += hex[c & 15];
      }
      return t + "}";
    }
    case Kind::Collection: {
      std::string t = "<";
      for (const auto& item : items) {
        t += " item";
        for (const auto& [n, v] : item) t += " " + n + " = " + v.Text();
        t += " end";
      }
      return t + ">";
    }
  }
  return "";
}

const PropInfo* ClassInfo::FindProp(std::string_view propName) const {
  for (const ClassInfo* c = this; c; c = c->Parent())
    for (auto it = c->props.rbegin(); it != c->props.rend(); ++it)
      if (SameIdent(it->name, propName)) return &*it;
  return nullptr;
}

bool ClassInfo::InheritsFrom(const ClassInfo* other) const {
  for (const ClassInfo* c = this; c; c = c->Parent())
    if (c == other) return true;
  return false;
}

std::vector<const PropInfo*> ClassInfo::AllProps() const {
  std::vector<const ClassInfo*> chain;
  for (const ClassInfo* c = this; c; c = c->Parent()) chain.insert(chain.begin(), c);
  std::vector<const PropInfo*> out;
  for (const ClassInfo* c : chain)
    for (const PropInfo& p : c->props) {
      // A descendant's entry of the same name replaces the ancestor's.
      bool replaced = false;
      for (auto& q : out)
        if (SameIdent(q->name, p.name)) {
          q = &p;
          replaced = true;
        }
      if (!replaced) out.push_back(&p);
    }
  return out;
}

const ClassInfo* FindClass(std::string_view name) {
  EnsureCore();
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.byName.find(Lower(name));
  return it == r.byName.end() ? nullptr : it->second;
}

const ClassInfo* ClassOf(const std::type_info& type) {
  EnsureCore();
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.byType.find(std::type_index(type));
  return it == r.byType.end() ? nullptr : it->second;
}

const ClassInfo* ClassOf(const TObject* obj) { return obj ? ClassOf(typeid(*obj)) : nullptr; }

const ClassInfo* ClassInfo::Parent() const {
  if (!parent_ && parentType) parent_ = ClassOf(*parentType);
  return parent_;
}

ClassInfo& RegisterClassInfo(const std::type_info& type, std::string name, const std::type_info* parentType) {
  EnsureCore();
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.byType.find(std::type_index(type));
  if (it != r.byType.end()) return *it->second;
  auto info = std::make_unique<ClassInfo>();
  info->name = std::move(name);
  info->parentType = parentType;
  ClassInfo* p = info.get();
  r.classes.push_back(std::move(info));
  r.byType[std::type_index(type)] = p;
  r.byName[Lower(p->name)] = p;
  return *p;
}

void SetPalettePage(const std::type_info& type, const std::string& page) {
  EnsureCore();
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.byType.find(std::type_index(type));
  if (it == r.byType.end()) throw EReadError(AnsiString("Class ") + type.name() + " is not registered");
  it->second->palettePage = page;
  it->second->paletteOrder = ++r.paletteCount;
}

std::vector<std::string> ComponentsOnPage(const std::string& page) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  std::vector<std::pair<int, std::string>> found;
  for (const auto& c : r.classes)
    if (c->palettePage == page) found.emplace_back(c->paletteOrder, c->name);
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(f.second);
  return out;
}

void RegisterEnumNames(const std::type_info& type, std::vector<std::pair<std::string, long long>> names) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  r.enums[std::type_index(type)] = std::move(names);
}

std::optional<long long> EnumValue(const std::type_info& type, std::string_view ident) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.enums.find(std::type_index(type));
  if (it == r.enums.end()) return std::nullopt;
  for (const auto& [n, v] : it->second)
    if (SameIdent(n, ident)) return v;
  return std::nullopt;
}

std::optional<std::string> EnumName(const std::type_info& type, long long value) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.enums.find(std::type_index(type));
  if (it == r.enums.end()) return std::nullopt;
  for (const auto& [n, v] : it->second)
    if (v == value) return n;
  return std::nullopt;
}

void ThrowBadValue(const FormValue& v, const char* expected) {
  throw EReadError(AnsiString("Invalid property value ") + v.Text().c_str() + " (expected " + expected + ")");
}

bool Convert<bool>::From(const FormValue& v, ReadContext&) {
  if (v.kind == FormValue::Kind::Ident) {
    if (SameIdent(v.s, "true")) return true;
    if (SameIdent(v.s, "false")) return false;
  }
  ThrowBadValue(v, "True or False");
}

AnsiString Convert<AnsiString>::From(const FormValue& v, ReadContext&) {
  if (v.kind == FormValue::Kind::String || v.kind == FormValue::Kind::Binary) return AnsiString(v.s);
  ThrowBadValue(v, "a string");
}

long long IntegerFrom(const FormValue& v, long long min, long long max, const std::type_info* enumType) {
  long long x = 0;
  if (v.kind == FormValue::Kind::Int) {
    x = v.i;
  } else if (v.kind == FormValue::Kind::Ident && enumType) {
    auto e = EnumValue(*enumType, v.s);
    if (!e) ThrowBadValue(v, "a known identifier");
    return *e;
  } else {
    ThrowBadValue(v, enumType ? "an identifier or an integer" : "an integer");
  }
  if (x < min || x > max) ThrowBadValue(v, "an integer in range");
  return x;
}

std::uint64_t SetBitsFrom(const FormValue& v, const std::type_info& enumType) {
  if (v.kind != FormValue::Kind::Set) ThrowBadValue(v, "a set");
  std::uint64_t bits = 0;
  for (const std::string& name : v.set) {
    auto e = EnumValue(enumType, name);
    if (!e || *e < 0 || *e >= 64) throw EReadError(AnsiString("Invalid set element ") + name.c_str());
    bits |= std::uint64_t{1} << *e;
  }
  return bits;
}

FormValue SetValueOf(std::uint64_t bits, const std::type_info& enumType) {
  FormValue r;
  r.kind = FormValue::Kind::Set;
  for (int b = 0; b < 64; ++b)
    if (bits & (std::uint64_t{1} << b)) {
      auto n = EnumName(enumType, b);
      r.set.push_back(n ? *n : std::to_string(b));
    }
  return r;
}

TComponent* ResolveComponent(ReadContext& ctx, const std::string& name) {
  if (SameIdent(name, "nil")) return nullptr;
  TComponent* root = ctx.Root();
  if (root && root->Name().CompareIC(AnsiString(name)) == 0) return root;
  TComponent* c = root ? root->FindComponent(AnsiString(name)) : nullptr;
  if (!c) throw EReadError(AnsiString("Component ") + name.c_str() + " not found");
  return c;
}

namespace {
// Walks a dotted path to the object holding the last property.
std::pair<TObject*, const PropInfo*> Resolve(TObject* obj, const std::string& path) {
  size_t start = 0;
  const std::type_info* declared = nullptr;
  while (true) {
    size_t dot = path.find('.', start);
    std::string part = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    const ClassInfo* ci = ClassOf(obj);
    if (!ci && declared) ci = ClassOf(*declared);
    const PropInfo* p = ci ? ci->FindProp(part) : nullptr;
    if (!p) throw EReadError(AnsiString("Property ") + path.c_str() + " does not exist");
    if (dot == std::string::npos) return {obj, p};
    if (!p->object) throw EReadError(AnsiString("Property ") + path.c_str() + " does not exist");
    declared = p->objectType;
    obj = p->object(obj);
    if (!obj) throw EReadError(AnsiString("Property ") + path.c_str() + " does not exist");
    start = dot + 1;
  }
}
}  // namespace

void SetPropValue(TObject* obj, const std::string& path, const FormValue& value, ReadContext& ctx) {
  auto [target, p] = Resolve(obj, path);
  if (!p->write) throw EReadError(AnsiString("Property ") + path.c_str() + " is read-only");
  p->write(target, value, ctx);
}

FormValue GetPropValue(TObject* obj, const std::string& path) {
  auto [target, p] = Resolve(obj, path);
  if (!p->read) throw EReadError(AnsiString("Property ") + path.c_str() + " cannot be read");
  return p->read(target);
}

}  // namespace vcl
