// Objects, components, event closures, sets, string lists and the property proxy that gives
// controls the framework's `Control->Caption = ...` syntax on top of reader/writer methods.
#pragma once
#include <any>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/vcl/core/ansistring.h"
#include "platform/vcl/core/sysutils.h"

class TObject;

// An event handler: an object and one of its member functions, or any callable.
template <class Sig>
class Closure;

template <class R, class... A>
class Closure<R(A...)> {
 public:
  Closure() = default;
  Closure(std::nullptr_t) {}  // NOLINT
  template <class O>
  Closure(O* object, R (O::*method)(A...)) : object_(object) {
    if (object && method)
      fn_ = [object, method](A... a) -> R { return (object->*method)(std::forward<A>(a)...); };
  }
  template <class F, class = std::enable_if_t<std::is_invocable_r_v<R, F&, A...> &&
                                              !std::is_same_v<std::decay_t<F>, Closure>>>
  Closure(F f) : fn_(std::move(f)) {}  // NOLINT

  explicit operator bool() const { return static_cast<bool>(fn_); }
  R operator()(A... a) const { return fn_(std::forward<A>(a)...); }
  // The object whose method this is (null for plain callables).
  const void* Object() const { return object_; }
  friend bool operator==(const Closure& c, std::nullptr_t) { return !c.fn_; }

 private:
  std::function<R(A...)> fn_;
  const void* object_ = nullptr;
};

using TNotifyEvent = Closure<void(TObject*)>;

// The framework's small sets of enumeration values: Set<E>() << a << b.
template <class E>
class Set {
 public:
  Set() = default;
  Set(std::initializer_list<E> values) {
    for (E v : values) *this << v;
  }
  Set& operator<<(E v) { bits_ |= Bit(v); return *this; }
  Set& operator>>(E v) { bits_ &= ~Bit(v); return *this; }
  bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  bool Empty() const { return bits_ == 0; }
  std::uint64_t Bits() const { return bits_; }
  static Set FromBits(std::uint64_t b) { Set s; s.bits_ = b; return s; }
  friend bool operator==(const Set& a, const Set& b) { return a.bits_ == b.bits_; }
  friend Set operator+(Set a, const Set& b) { a.bits_ |= b.bits_; return a; }
  friend Set operator*(Set a, const Set& b) { a.bits_ &= b.bits_; return a; }

 private:
  static std::uint64_t Bit(E v) {
    auto i = static_cast<long long>(v);
    return (i >= 0 && i < 64) ? (std::uint64_t{1} << i) : 0;
  }
  std::uint64_t bits_ = 0;
};

template <class T>
struct IsSet : std::false_type {};
template <class E>
struct IsSet<Set<E>> : std::true_type {
  using Element = E;
};

// A property as a member: reads call Get, assignments call Set on the owning object.
// `Label1->Caption = "x"; AnsiString s = Edit1->Text; int n = Grid->RowCount() + 1;`
template <class C, class T, auto Get, auto Put = nullptr>
class Property {
 public:
  explicit Property(C* owner) : o_(owner) {}
  Property(const Property&) = delete;

  operator T() const { return (o_->*Get)(); }  // NOLINT
  T operator()() const { return (o_->*Get)(); }
  const Property& operator=(const T& v) const {
    static_assert(!std::is_same_v<decltype(Put), std::nullptr_t>, "read-only property");
    if constexpr (!std::is_same_v<decltype(Put), std::nullptr_t>) (o_->*Put)(v);
    return *this;
  }
  const Property& operator=(const Property& other) const { return *this = other(); }

 private:
  C* o_;
};

namespace vcl {
class ClassInfo;
}

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  // The registered class name of the object's dynamic type (or its nearest registered base).
  AnsiString ClassName() const;
  bool InheritsFrom(const vcl::ClassInfo* cls) const;
};

class TPersistent : public TObject {
 public:
  virtual void Assign(const TPersistent& source);
};

enum TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning };
using TComponentState = Set<TComponentStateFlag>;
enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  // The owner destroys its components when it is destroyed (last created first).
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const AnsiString& Name() const { return name_; }
  // Raises Exception for a name that is not an identifier or that another component of the
  // same owner already has (case-insensitive).
  void SetName(const AnsiString& name);
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  TComponent* FindComponent(const AnsiString& name) const;
  TComponentState ComponentState() const { return state_; }

  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  void DestroyComponents();

  // Form-description reading: the reader sets the enclosing component before the
  // properties, and calls Loaded once every component of the description is read.
  virtual void SetParentComponent(TComponent* parent);
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void Loaded();
  void SetComponentState(TComponentStateFlag flag, bool on);

  // Handlers and fields of a root component (a form), bound by name while its description is
  // read. Call both from the derived constructor, before the description is loaded.
  template <class O, class R, class... A>
  void RegisterHandler(const AnsiString& name, R (O::*method)(A...)) {
    handlers_[Key(name)] = Closure<R(A...)>(static_cast<O*>(this), method);
  }
  const std::any* FindHandler(const AnsiString& name) const;
  template <class T>
  void RegisterField(const AnsiString& name, T*& field) {
    fields_.push_back({name, [&field](TComponent* c) {
                         field = dynamic_cast<T*>(c);
                         return field != nullptr;
                       }});
  }
  // Points every registered field at its component; raises EReadError for a missing one.
  void BindFields();

 protected:
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  static std::string Key(const AnsiString& name);

  TComponent* owner_ = nullptr;
  AnsiString name_;
  std::vector<TComponent*> components_;
  TComponentState state_;
  std::map<std::string, std::any> handlers_;
  std::vector<std::pair<AnsiString, std::function<bool(TComponent*)>>> fields_;
};

// The framework's string list. Positions count from 0.
class TStrings : public TPersistent {
 public:
  virtual int Count() const = 0;
  virtual AnsiString Get(int index) const = 0;
  virtual void Put(int index, const AnsiString& s) = 0;
  virtual void Insert(int index, const AnsiString& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  int Add(const AnsiString& s) {
    int i = Count();
    Insert(i, s);
    return i;
  }
  AnsiString Strings(int index) const { return Get(index); }
  AnsiString operator[](int index) const { return Get(index); }
  int IndexOf(const AnsiString& s) const;
  // Lines joined with CR LF, each one ended by it.
  AnsiString Text() const;
  void SetText(const AnsiString& text);
  void Assign(const TPersistent& source) override;

 protected:
  // Raises ERangeError ("List index out of bounds (n)") unless 0 <= index < limit.
  static void CheckIndex(int index, int limit);
};

class TStringList : public TStrings {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  AnsiString Get(int index) const override;
  void Put(int index, const AnsiString& s) override;
  void Insert(int index, const AnsiString& s) override;
  void Delete(int index) override;
  void Clear() override { items_.clear(); }

 private:
  std::vector<AnsiString> items_;
};
