// The published-property registry. Each component class registers its name, how to create it
// and its published properties (reader, writer, default, stored); form descriptions are read
// and written through it. Registration is usually a static in the class's .cpp file:
//
//   static const bool registered = [] {
//     vcl::RegisterClass<TcorvWebForm, CORVCore>("TcorvWebForm")
//         .Property("FirewallPort", &TcorvWebForm::FFirewallPort, &TcorvWebForm::FSetFirewallPort)
//         .Default(0)
//         .Property("WinsockInfo", &TcorvWebForm::FWinsockInfo, &CORVCore::SetDummyAnsiString)
//         .NotStored()
//         .Event("OnTransfer", &TcorvWebForm::OnTransfer);
//     return true;
//   }();
//
// Enumerations used by properties register their identifiers with RegisterEnum.
#pragma once
#include <any>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/vcl/core/classes.h"

namespace vcl {

// One value of a form description.
struct FormValue {
  enum class Kind { Unset, Int, Float, String, Ident, Set, List, Binary, Collection };
  using Item = std::vector<std::pair<std::string, FormValue>>;

  Kind kind = Kind::Unset;
  long long i = 0;
  double f = 0;
  std::string s;                  // String, Ident, Binary (raw bytes)
  std::vector<std::string> set;   // Set
  std::vector<FormValue> list;    // List
  std::vector<Item> items;        // Collection
  int line = 0;

  static FormValue Int(long long v) { FormValue r; r.kind = Kind::Int; r.i = v; return r; }
  static FormValue Float(double v) { FormValue r; r.kind = Kind::Float; r.f = v; return r; }
  static FormValue String(std::string v) { FormValue r; r.kind = Kind::String; r.s = std::move(v); return r; }
  static FormValue Ident(std::string v) { FormValue r; r.kind = Kind::Ident; r.s = std::move(v); return r; }
  static FormValue Binary(std::string v) { FormValue r; r.kind = Kind::Binary; r.s = std::move(v); return r; }
  bool operator==(const FormValue& o) const;
  // The value as a form description writes it.
  std::string Text() const;
};

// What the reader offers a property writer: handler look-up and deferred component references.
class ReadContext {
 public:
  virtual ~ReadContext() = default;
  // The root's handler of that name; raises EReadError when there is none.
  virtual const std::any& Handler(const std::string& name) = 0;
  // Runs after every component of the description exists.
  virtual void AddFixup(std::function<void()> fixup) = 0;
  virtual TComponent* Root() = 0;
};

struct PropInfo {
  std::string name;
  std::function<void(TObject*, const FormValue&, ReadContext&)> write;  // null: read-only
  std::function<FormValue(TObject*)> read;        // null: not readable as a value
  std::function<TPersistent*(TObject*)> object;   // sub-object (Font.Height, Items.Strings)
  const std::type_info* objectType = nullptr;     // its declared class, when the object's own is not registered
  std::optional<FormValue> defaultValue;
  bool stored = true;
  bool event = false;
};

class ClassInfo {
 public:
  std::string name;
  // The ancestor's entry, found when first asked: units may register in any order.
  const ClassInfo* Parent() const;
  const std::type_info* parentType = nullptr;
  std::function<TComponent*(TComponent* owner)> create;  // null: abstract or not a component
  std::vector<PropInfo> props;
  std::string palettePage;  // where RegisterComponents put it; empty when nowhere
  int paletteOrder = 0;

  // Case-insensitive, this class first, then its ancestors.
  const PropInfo* FindProp(std::string_view propName) const;
  bool InheritsFrom(const ClassInfo* other) const;
  // Every property, ancestors' first.
  std::vector<const PropInfo*> AllProps() const;

 private:
  mutable const ClassInfo* parent_ = nullptr;
};

const ClassInfo* FindClass(std::string_view name);
// Registered class info of the object's dynamic type; null when it is not registered.
const ClassInfo* ClassOf(const TObject* obj);
const ClassInfo* ClassOf(const std::type_info& type);
// parentType: the C++ base whose entry is the ancestor (null for none).
ClassInfo& RegisterClassInfo(const std::type_info& type, std::string name, const std::type_info* parentType);

// Identifiers of an enumeration type, for properties and sets of it.
void RegisterEnumNames(const std::type_info& type, std::vector<std::pair<std::string, long long>> names);
std::optional<long long> EnumValue(const std::type_info& type, std::string_view ident);
std::optional<std::string> EnumName(const std::type_info& type, long long value);
template <class E>
void RegisterEnum(std::vector<std::pair<std::string, long long>> names) {
  RegisterEnumNames(typeid(E), std::move(names));
}

[[noreturn]] void ThrowBadValue(const FormValue& v, const char* expected);

// Conversions between property types and form values.
template <class T, class = void>
struct Convert;

template <>
struct Convert<bool> {
  static bool From(const FormValue& v, ReadContext&);
  static FormValue To(bool b) { return FormValue::Ident(b ? "True" : "False"); }
};
template <>
struct Convert<AnsiString> {
  static AnsiString From(const FormValue& v, ReadContext&);
  static FormValue To(const AnsiString& s) { return FormValue::String(s.str()); }
};
long long IntegerFrom(const FormValue& v, long long min, long long max, const std::type_info* enumType);
template <class T>
struct Convert<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static T From(const FormValue& v, ReadContext&) {
    return static_cast<T>(IntegerFrom(v, static_cast<long long>(std::numeric_limits<T>::min()),
                                      static_cast<long long>(std::numeric_limits<T>::max()), nullptr));
  }
  static FormValue To(T x) { return FormValue::Int(static_cast<long long>(x)); }
};
template <class T>
struct Convert<T, std::enable_if_t<std::is_enum_v<T>>> {
  static T From(const FormValue& v, ReadContext&) {
    return static_cast<T>(IntegerFrom(v, std::numeric_limits<long long>::min(),
                                      std::numeric_limits<long long>::max(), &typeid(T)));
  }
  static FormValue To(T x) {
    auto n = EnumName(typeid(T), static_cast<long long>(x));
    return n ? FormValue::Ident(*n) : FormValue::Int(static_cast<long long>(x));
  }
};
template <class T>
struct Convert<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static T From(const FormValue& v, ReadContext&) {
    if (v.kind == FormValue::Kind::Float) return static_cast<T>(v.f);
    if (v.kind == FormValue::Kind::Int) return static_cast<T>(v.i);
    ThrowBadValue(v, "a number");
  }
  static FormValue To(T x) { return FormValue::Float(static_cast<double>(x)); }
};
std::uint64_t SetBitsFrom(const FormValue& v, const std::type_info& enumType);
FormValue SetValueOf(std::uint64_t bits, const std::type_info& enumType);
template <class E>
struct Convert<Set<E>> {
  static Set<E> From(const FormValue& v, ReadContext&) { return Set<E>::FromBits(SetBitsFrom(v, typeid(E))); }
  static FormValue To(const Set<E>& s) { return SetValueOf(s.Bits(), typeid(E)); }
};

TComponent* ResolveComponent(ReadContext& ctx, const std::string& name);
// A reference to another component of the form (FocusControl = eProxyServer): resolved once the
// whole description is read.
template <class T>
struct Convert<T*, std::enable_if_t<std::is_base_of_v<TComponent, T>>> {
  static FormValue To(T* c) { return c ? FormValue::Ident(c->Name().str()) : FormValue::Ident("nil"); }
};

template <class C>
class ClassBuilder {
 public:
  explicit ClassBuilder(ClassInfo& info) : info_(info) {}

  // get and set are member functions (or anything std::invoke takes with a C*).
  template <class G, class S>
  ClassBuilder& Property(const char* name, G get, S set) {
    using T = std::decay_t<std::invoke_result_t<G, C*>>;
    PropInfo p;
    p.name = name;
    p.read = [get](TObject* o) { return Convert<T>::To(std::invoke(get, static_cast<C*>(o))); };
    if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TComponent, std::remove_pointer_t<T>>) {
      p.write = [set, name = std::string(name)](TObject* o, const FormValue& v, ReadContext& ctx) {
        if (v.kind != FormValue::Kind::Ident) ThrowBadValue(v, "a component name");
        C* self = static_cast<C*>(o);
        std::string ref = v.s;
        ctx.AddFixup([self, set, ref, &ctx] {
          TComponent* c = ResolveComponent(ctx, ref);
          T typed = c ? dynamic_cast<T>(c) : nullptr;
          if (c && !typed) throw EReadError(AnsiString("Component ") + ref.c_str() + " has the wrong class");
          std::invoke(set, self, typed);
        });
      };
    } else {
      p.write = [set](TObject* o, const FormValue& v, ReadContext& ctx) {
        std::invoke(set, static_cast<C*>(o), Convert<T>::From(v, ctx));
      };
    }
    info_.props.push_back(std::move(p));
    return *this;
  }
  template <class G>
  ClassBuilder& ReadOnly(const char* name, G get) {
    using T = std::decay_t<std::invoke_result_t<G, C*>>;
    PropInfo p;
    p.name = name;
    p.read = [get](TObject* o) { return Convert<T>::To(std::invoke(get, static_cast<C*>(o))); };
    p.stored = false;
    info_.props.push_back(std::move(p));
    return *this;
  }
  // An event: a Closure member assigned from the root's handler of the given name.
  template <class Sig>
  ClassBuilder& Event(const char* name, Closure<Sig> C::*member) {
    PropInfo p;
    p.name = name;
    p.event = true;
    p.write = [member, name = std::string(name)](TObject* o, const FormValue& v, ReadContext& ctx) {
      if (v.kind != FormValue::Kind::Ident) ThrowBadValue(v, "a handler name");
      const std::any& h = ctx.Handler(v.s);
      const auto* closure = std::any_cast<Closure<Sig>>(&h);
      if (!closure)
        throw EReadError(AnsiString("Handler ") + v.s.c_str() + " does not fit event " + name.c_str());
      static_cast<C*>(o)->*member = *closure;
    };
    info_.props.push_back(std::move(p));
    return *this;
  }
  // An event behind a writer method (the writer may act on the new handler).
  template <class Sig, class S>
  ClassBuilder& EventVia(const char* name, S set) {
    PropInfo p;
    p.name = name;
    p.event = true;
    p.write = [set, name = std::string(name)](TObject* o, const FormValue& v, ReadContext& ctx) {
      if (v.kind != FormValue::Kind::Ident) ThrowBadValue(v, "a handler name");
      const std::any& h = ctx.Handler(v.s);
      const auto* closure = std::any_cast<Closure<Sig>>(&h);
      if (!closure)
        throw EReadError(AnsiString("Handler ") + v.s.c_str() + " does not fit event " + name.c_str());
      std::invoke(set, static_cast<C*>(o), *closure);
    };
    info_.props.push_back(std::move(p));
    return *this;
  }
  // A sub-object whose own published properties are set by dotted names (Font.Height).
  template <class G>
  ClassBuilder& Object(const char* name, G get) {
    PropInfo p;
    p.name = name;
    p.object = [get](TObject* o) -> TPersistent* { return std::invoke(get, static_cast<C*>(o)); };
    p.objectType = &typeid(std::remove_pointer_t<std::decay_t<std::invoke_result_t<G, C*>>>);
    info_.props.push_back(std::move(p));
    return *this;
  }
  // Accepted in descriptions and ignored: values only the original's screen layout needed.
  ClassBuilder& Ignored(const char* name) {
    PropInfo p;
    p.name = name;
    p.write = [](TObject*, const FormValue&, ReadContext&) {};
    p.stored = false;
    info_.props.push_back(std::move(p));
    return *this;
  }
  ClassBuilder& Custom(PropInfo p) {
    info_.props.push_back(std::move(p));
    return *this;
  }
  // Modifiers of the property registered last.
  template <class T>
  ClassBuilder& Default(const T& value) {
    info_.props.back().defaultValue = Convert<T>::To(value);
    return *this;
  }
  ClassBuilder& NotStored() {
    info_.props.back().stored = false;
    return *this;
  }
  ClassInfo& Info() { return info_; }

 private:
  ClassInfo& info_;
};

// Registers C under name as a descendant of Base (TObject for a root class). Components get a
// factory so descriptions can create them; registering again returns the same entry.
template <class C, class Base>
ClassBuilder<C> RegisterClass(const char* name) {
  ClassInfo& info = RegisterClassInfo(typeid(C), name, std::is_same_v<Base, TObject> ? nullptr : &typeid(Base));
  if constexpr (std::is_base_of_v<TComponent, C> && !std::is_abstract_v<C> &&
                std::is_constructible_v<C, TComponent*>) {
    info.create = [](TComponent* owner) -> TComponent* { return new C(owner); };
  }
  return ClassBuilder<C>(info);
}

// TPersistent, TComponent, TStrings, TStringList: registered before anything else is.
void RegisterCoreClasses();

// Components registered on a palette page, in the order registered.
void SetPalettePage(const std::type_info& type, const std::string& page);
std::vector<std::string> ComponentsOnPage(const std::string& page);

// Assigns one published property by its (possibly dotted) name, as a description would.
void SetPropValue(TObject* obj, const std::string& path, const FormValue& value, ReadContext& ctx);
// Reads one published property; raises EReadError when it does not exist or cannot be read.
FormValue GetPropValue(TObject* obj, const std::string& path);

}  // namespace vcl

// The framework's component registration: RegisterComponents<TcorvWebForm>("Corvane"). Each
// class must be registered with vcl::RegisterClass first.
template <class... C>
void RegisterComponents(const AnsiString& page) {
  (vcl::SetPalettePage(typeid(C), page.str()), ...);
}
