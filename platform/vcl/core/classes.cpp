#include "platform/vcl/core/classes.h"

#include <algorithm>
#include <typeinfo>

#include "platform/vcl/core/typinfo.h"

AnsiString TObject::ClassName() const {
  if (const vcl::ClassInfo* ci = vcl::ClassOf(this)) return AnsiString(ci->name);
  return AnsiString(typeid(*this).name());
}

bool TObject::InheritsFrom(const vcl::ClassInfo* cls) const {
  const vcl::ClassInfo* ci = vcl::ClassOf(this);
  return ci && ci->InheritsFrom(cls);
}

void TPersistent::Assign(const TPersistent& source) {
  throw EConvertError("Cannot assign a " + source.ClassName() + " to a " + ClassName());
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ << csDestroying;
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    RemoveComponent(c);
    delete c;
  }
}

std::string TComponent::Key(const AnsiString& name) { return name.LowerCase().str(); }

void TComponent::SetName(const AnsiString& name) {
  if (name == name_) return;
  const std::string& s = name.str();
  bool ident = !s.empty();
  for (size_t i = 0; i < s.size() && ident; ++i) {
    char c = s[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    ident = alpha || (i > 0 && c >= '0' && c <= '9');
  }
  if (!s.empty() && !ident) throw Exception("'" + name + "' is not a valid component name");
  if (owner_ && !s.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this) throw Exception("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw ERangeError("List index out of bounds (" + AnsiString(index) + ")");
  return components_[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(const AnsiString& name) const {
  if (name.IsEmpty()) return nullptr;
  for (TComponent* c : components_)
    if (c->name_.CompareIC(name) == 0) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c || c->owner_ == this) return;
  if (c->owner_) c->owner_->RemoveComponent(c);
  components_.push_back(c);
  c->owner_ = this;
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(components_.begin(), components_.end(), c);
  if (it == components_.end()) return;
  components_.erase(it);
  c->owner_ = nullptr;
  Notification(c, opRemove);
}

void TComponent::SetParentComponent(TComponent*) {}

void TComponent::Loaded() { state_ >> csLoading; }

void TComponent::SetComponentState(TComponentStateFlag flag, bool on) {
  if (on)
    state_ << flag;
  else
    state_ >> flag;
}

void TComponent::Notification(TComponent*, TOperation) {}

const std::any* TComponent::FindHandler(const AnsiString& name) const {
  auto it = handlers_.find(Key(name));
  return it == handlers_.end() ? nullptr : &it->second;
}

void TComponent::BindFields() {
  for (auto& [name, bind] : fields_) {
    TComponent* c = FindComponent(name);
    if (!c) throw EReadError("Field " + name + " has no component in the form description");
    if (!bind(c)) throw EReadError("Field " + name + " does not match the class " + c->ClassName());
  }
}

void TStrings::CheckIndex(int index, int limit) {
  if (index < 0 || index >= limit) throw ERangeError("List index out of bounds (" + AnsiString(index) + ")");
}

int TStrings::IndexOf(const AnsiString& s) const {
  for (int i = 0; i < Count(); ++i)
    if (Get(i).CompareIC(s) == 0) return i;
  return -1;
}

AnsiString TStrings::Text() const {
  AnsiString r;
  for (int i = 0; i < Count(); ++i) r += Get(i) + "\r\n";
  return r;
}

void TStrings::SetText(const AnsiString& text) {
  Clear();
  const std::string& s = text.str();
  size_t start = 0;
  while (start < s.size()) {
    size_t e = s.find_first_of("\r\n", start);
    if (e == std::string::npos) {
      Add(AnsiString(s.substr(start)));
      break;
    }
    Add(AnsiString(s.substr(start, e - start)));
    start = e + ((s[e] == '\r' && e + 1 < s.size() && s[e + 1] == '\n') ? 2 : 1);
  }
}

void TStrings::Assign(const TPersistent& source) {
  const auto* other = dynamic_cast<const TStrings*>(&source);
  if (!other) return TPersistent::Assign(source);
  if (other == this) return;
  Clear();
  for (int i = 0; i < other->Count(); ++i) Add(other->Get(i));
}

AnsiString TStringList::Get(int index) const {
  CheckIndex(index, Count());
  return items_[static_cast<size_t>(index)];
}
void TStringList::Put(int index, const AnsiString& s) {
  CheckIndex(index, Count());
  items_[static_cast<size_t>(index)] = s;
}
void TStringList::Insert(int index, const AnsiString& s) {
  CheckIndex(index, Count() + 1);
  items_.insert(items_.begin() + index, s);
}
void TStringList::Delete(int index) {
  CheckIndex(index, Count());
  items_.erase(items_.begin() + index);
}
