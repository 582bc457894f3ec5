#include "platform/vcl/core/formreader.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <locale.h>

namespace vcl {
namespace {

}  // namespace

void RegisterCoreClasses() {
  RegisterClass<TPersistent, TObject>("TPersistent");
  RegisterClass<TComponent, TPersistent>("TComponent");
  PropInfo strings;
  strings.name = "Strings";
  strings.write = [](TObject* o, const FormValue& v, ReadContext&) {
    if (v.kind != FormValue::Kind::List) ThrowBadValue(v, "a list of strings");
    auto* list = static_cast<TStrings*>(o);
    list->Clear();
    for (const FormValue& item : v.list) {
      if (item.kind != FormValue::Kind::String) ThrowBadValue(item, "a string");
      list->Add(AnsiString(item.s));
    }
  };
  strings.read = [](TObject* o) {
    auto* list = static_cast<TStrings*>(o);
    FormValue r;
    r.kind = FormValue::Kind::List;
    for (int i = 0; i < list->Count(); ++i) r.list.push_back(FormValue::String(list->Get(i).str()));
    return r;
  };
  RegisterClass<TStrings, TPersistent>("TStrings").Custom(std::move(strings));
  RegisterClass<TStringList, TStrings>("TStringList");
}

namespace {

enum class Tok { End, Ident, Int, Float, String, Symbol, Binary };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier, decoded string, symbol character, binary bytes
  long long i = 0;
  double f = 0;
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : t_(text) {}

  Token Next() {
    SkipBlanks();
    Token tok;
    tok.line = line_;
    if (p_ >= t_.size()) return tok;
    char c = t_[p_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t s = p_;
      while (p_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[p_])) || t_[p_] == '_' || t_[p_] == '.')) ++p_;
      tok.kind = Tok::Ident;
      tok.text = std::string(t_.substr(s, p_ - s));
      return tok;
    }
    if (c == '\'' || c == '#') return ReadString(tok);
    if (c == '$') return ReadHex(tok);
    if (std::isdigit(static_cast<unsigned char>(c)) || ((c == '-' || c == '+') && p_ + 1 < t_.size() &&
                                                        (std::isdigit(static_cast<unsigned char>(t_[p_ + 1])) || t_[p_ + 1] == '$'))) {
      return ReadNumber(tok);
    }
    if (c == '{') return ReadBinary(tok);
    ++p_;
    tok.kind = Tok::Symbol;
    tok.text = std::string(1, c);
    return tok;
  }

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw EReadError(AnsiString("Form description, line ") + AnsiString(line) + ": " + what.c_str());
  }

 private:
  void SkipBlanks() {
    while (p_ < t_.size()) {
      char c = t_[p_];
      if (c == '\n') {
        ++line_;
        ++p_;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f') {
        ++p_;
      } else if (c == '/' && p_ + 1 < t_.size() && t_[p_ + 1] == '/') {
        while (p_ < t_.size() && t_[p_] != '\n') ++p_;
      } else {
        break;
      }
    }
  }

  Token& ReadString(Token& tok) {
    tok.kind = Tok::String;
    while (p_ < t_.size()) {
      char c = t_[p_];
      if (c == '\'') {
        ++p_;
        while (true) {
          if (p_ >= t_.size() || t_[p_] == '\n') Fail(tok.line, "unterminated string");
          if (t_[p_] == '\'') {
            if (p_ + 1 < t_.size() && t_[p_ + 1] == '\'') {
              tok.text += '\'';
              p_ += 2;
              continue;
            }
            ++p_;
            break;
          }
          tok.text += t_[p_++];
        }
      } else if (c == '#') {
        ++p_;
        int base = 10;
        if (p_ < t_.size() && t_[p_] == '$') {
          base = 16;
          ++p_;
        }
        size_t s = p_;
        while (p_ < t_.size() && std::isxdigit(static_cast<unsigned char>(t_[p_]))) ++p_;
        unsigned v = 0;
        auto [end, ec] = std::from_chars(t_.data() + s, t_.data() + p_, v, base);
        if (s == p_ || ec != std::errc() || end != t_.data() + p_) Fail(tok.line, "bad character code");
        if (v > 255) Fail(tok.line, "character code above 255");
        tok.text += static_cast<char>(v);
      } else {
        break;
      }
    }
    return tok;
  }

  Token& ReadHex(Token& tok) {
    ++p_;
    size_t s = p_;
    while (p_ < t_.size() && std::isxdigit(static_cast<unsigned char>(t_[p_]))) ++p_;
    unsigned long long v = 0;
    auto [end, ec] = std::from_chars(t_.data() + s, t_.data() + p_, v, 16);
    if (s == p_ || ec != std::errc() || end != t_.data() + p_ || v > 0xFFFFFFFFull) Fail(tok.line, "bad hexadecimal number");
    tok.kind = Tok::Int;
    tok.i = static_cast<long long>(v);
    return tok;
  }

  Token& ReadNumber(Token& tok) {
    bool neg = false;
    if (t_[p_] == '-' || t_[p_] == '+') neg = t_[p_++] == '-';
    if (t_[p_] == '$') {
      ReadHex(tok);
      if (neg) tok.i = -tok.i;
      return tok;
    }
    size_t s = p_;
    bool isFloat = false;
    while (p_ < t_.size()) {
      char c = t_[p_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++p_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        isFloat = true;
        ++p_;
        if ((c == 'e' || c == 'E') && p_ < t_.size() && (t_[p_] == '-' || t_[p_] == '+')) ++p_;
      } else {
        break;
      }
    }
    std::string num(t_.substr(s, p_ - s));
    if (isFloat) {
      static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
      char* end = nullptr;
      double d = strtod_l(num.c_str(), &end, c);
      if (end != num.c_str() + num.size()) Fail(tok.line, "bad number " + num);
      tok.kind = Tok::Float;
      tok.f = neg ? -d : d;
    } else {
      long long v = 0;
      auto [end, ec] = std::from_chars(num.data(), num.data() + num.size(), v);
      if (ec != std::errc() || end != num.data() + num.size()) Fail(tok.line, "bad number " + num);
      tok.kind = Tok::Int;
      tok.i = neg ? -v : v;
    }
    return tok;
  }

  Token& ReadBinary(Token& tok) {
    ++p_;
    tok.kind = Tok::Binary;
    int nibble = -1;
    while (true) {
      if (p_ >= t_.size()) Fail(tok.line, "unterminated binary value");
      char c = t_[p_++];
      if (c == '}') break;
      if (c == '\n') {
        ++line_;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r') continue;
      int v;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else Fail(line_, "bad binary digit");
      if (nibble < 0) {
        nibble = v;
      } else {
        tok.text += static_cast<char>(nibble * 16 + v);
        nibble = -1;
      }
    }
    if (nibble >= 0) Fail(tok.line, "odd number of binary digits");
    return tok;
  }

  std::string_view t_;
  size_t p_ = 0;
  int line_ = 1;
};

bool IsKeyword(const Token& t, const char* kw) {
  if (t.kind != Tok::Ident) return false;
  std::string a = t.text;
  for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return a == kw;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) { Advance(); }

  FormObject ParseRoot() {
    FormObject o = ParseObject();
    if (cur_.kind != Tok::End) lex_.Fail(cur_.line, "text after the final end");
    return o;
  }

 private:
  void Advance() { cur_ = lex_.Next(); }
  bool IsSymbol(char c) const { return cur_.kind == Tok::Symbol && cur_.text[0] == c; }
  void Expect(char c) {
    if (!IsSymbol(c)) lex_.Fail(cur_.line, std::string("'") + c + "' expected");
    Advance();
  }
  std::string ExpectIdent(const char* what) {
    if (cur_.kind != Tok::Ident) lex_.Fail(cur_.line, std::string(what) + " expected");
    std::string s = cur_.text;
    Advance();
    return s;
  }

  // Nesting deep enough to exhaust the stack is an error, not a crash.
  struct DepthGuard {
    Parser& p;
    explicit DepthGuard(Parser& parser) : p(parser) {
      if (++p.depth_ > kMaxDepth) p.lex_.Fail(p.cur_.line, "nested too deeply");
    }
    ~DepthGuard() { --p.depth_; }
  };
  static constexpr int kMaxDepth = 100;

  FormObject ParseObject() {
    DepthGuard guard(*this);
    if (!IsKeyword(cur_, "object") && !IsKeyword(cur_, "inherited") && !IsKeyword(cur_, "inline"))
      lex_.Fail(cur_.line, "'object' expected");
    FormObject o;
    o.line = cur_.line;
    Advance();
    std::string first = ExpectIdent("component name");
    if (IsSymbol(':')) {
      Advance();
      o.name = first;
      o.className = ExpectIdent("class name");
    } else {
      o.className = first;  // an unnamed object: "object TClass"
    }
    if (IsSymbol('[')) {  // creation order index of inherited forms: not needed here
      Advance();
      if (cur_.kind != Tok::Int) lex_.Fail(cur_.line, "index expected");
      Advance();
      Expect(']');
    }
    while (true) {
      if (cur_.kind == Tok::End) lex_.Fail(o.line, "object " + o.name + " has no 'end'");
      if (IsKeyword(cur_, "end")) {
        Advance();
        return o;
      }
      if (IsKeyword(cur_, "object") || IsKeyword(cur_, "inherited") || IsKeyword(cur_, "inline")) {
        o.children.push_back(ParseObject());
        continue;
      }
      int line = cur_.line;
      std::string name = ExpectIdent("property name");
      Expect('=');
      FormValue v = ParseValue();
      v.line = line;
      o.props.emplace_back(std::move(name), std::move(v));
    }
  }

  FormValue ParseValue() {
    DepthGuard guard(*this);
    FormValue v;
    v.line = cur_.line;
    switch (cur_.kind) {
      case Tok::End: lex_.Fail(cur_.line, "value expected");
      case Tok::Int: v = FormValue::Int(cur_.i); Advance(); return v;
      case Tok::Float: v = FormValue::Float(cur_.f); Advance(); return v;
      case Tok::Binary: v = FormValue::Binary(cur_.text); Advance(); return v;
      case Tok::Ident: v = FormValue::Ident(cur_.text); Advance(); return v;
      case Tok::String: {
        std::string s = cur_.text;
        Advance();
        while (IsSymbol('+')) {
          Advance();
          if (cur_.kind != Tok::String) lex_.Fail(cur_.line, "string expected after '+'");
          s += cur_.text;
          Advance();
        }
        return FormValue::String(std::move(s));
      }
      case Tok::Symbol: break;
    }
    if (IsSymbol('[')) {
      Advance();
      v.kind = FormValue::Kind::Set;
      while (!IsSymbol(']')) {
        v.set.push_back(ExpectIdent("set element"));
        if (IsSymbol(',')) Advance();
        else if (!IsSymbol(']')) lex_.Fail(cur_.line, "',' or ']' expected");
      }
      Advance();
      return v;
    }
    if (IsSymbol('(')) {
      Advance();
      v.kind = FormValue::Kind::List;
      while (!IsSymbol(')')) v.list.push_back(ParseValue());
      Advance();
      return v;
    }
    if (IsSymbol('<')) {
      Advance();
      v.kind = FormValue::Kind::Collection;
      while (!IsSymbol('>')) {
        if (!IsKeyword(cur_, "item")) lex_.Fail(cur_.line, "'item' expected");
        Advance();
        FormValue::Item item;
        while (!IsKeyword(cur_, "end")) {
          int line = cur_.line;
          std::string name = ExpectIdent("property name");
          Expect('=');
          FormValue iv = ParseValue();
          iv.line = line;
          item.emplace_back(std::move(name), std::move(iv));
        }
        Advance();
        v.items.push_back(std::move(item));
      }
      Advance();
      return v;
    }
    lex_.Fail(cur_.line, "unexpected '" + cur_.text + "'");
  }

  Lexer lex_;
  Token cur_;
  int depth_ = 0;
};

class Reader : public ReadContext {
 public:
  explicit Reader(TComponent* root) : root_(root) {}

  const std::any& Handler(const std::string& name) override {
    const std::any* h = root_->FindHandler(AnsiString(name));
    if (!h) throw EReadError(AnsiString("Handler ") + name.c_str() + " not found in " + root_->ClassName());
    return *h;
  }
  void AddFixup(std::function<void()> fixup) override { fixups_.push_back(std::move(fixup)); }
  TComponent* Root() override { return root_; }

  void Read(const FormObject& o) {
    try {
      ReadInto(root_, o);
      for (auto& f : fixups_) f();
      root_->BindFields();
    } catch (...) {
      for (TComponent* c : loaded_) c->SetComponentState(csLoading, false);
      throw;
    }
    for (TComponent* c : loaded_) c->SetComponentState(csReading, false);
    for (TComponent* c : loaded_) c->Loaded();
  }

 private:
  void ReadInto(TComponent* obj, const FormObject& o) {
    obj->SetComponentState(csLoading, true);
    obj->SetComponentState(csReading, true);
    loaded_.push_back(obj);
    for (const auto& [name, value] : o.props) {
      try {
        SetPropValue(obj, name, value, *this);
      } catch (const EReadError& e) {
        throw EReadError("Error reading " + (o.name.empty() ? AnsiString(o.className) : AnsiString(o.name)) +
                         "." + name.c_str() + " (line " + AnsiString(value.line) + "): " + e.Message);
      }
    }
    for (const FormObject& child : o.children) {
      const ClassInfo* ci = FindClass(child.className);
      if (!ci || !ci->create)
        throw EReadError("Class " + AnsiString(child.className) + " not found (line " + AnsiString(child.line) + ")");
      TComponent* c = root_->FindComponent(AnsiString(child.name));
      if (c && ClassOf(c) != ci)
        throw EReadError("Component " + AnsiString(child.name) + " exists with another class (line " +
                         AnsiString(child.line) + ")");
      if (!c) {
        c = ci->create(root_);
        try {
          c->SetName(AnsiString(child.name));
        } catch (const Exception& e) {
          delete c;
          throw EReadError(e.Message + " (line " + AnsiString(child.line) + ")");
        }
      }
      c->SetParentComponent(obj);
      ReadInto(c, child);
    }
  }

  TComponent* root_;
  std::vector<std::function<void()>> fixups_;
  std::vector<TComponent*> loaded_;
};

void WriteObject(TComponent* obj, std::string& out, int depth) {
  std::string indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + "object " + obj->Name().str() + ": " + obj->ClassName().str() + "\n";
  std::function<void(TObject*, const std::string&, const std::type_info*)> writeProps =
      [&](TObject* o, const std::string& prefix, const std::type_info* declared) {
    const ClassInfo* ci = ClassOf(o);
    if (!ci && declared) ci = ClassOf(*declared);
    if (!ci) return;
    for (const PropInfo* p : ci->AllProps()) {
      if (p->object) {
        if (TPersistent* sub = p->object(o)) writeProps(sub, prefix + p->name + ".", p->objectType);
        continue;
      }
      if (!p->stored || !p->read || p->event) continue;
      FormValue v = p->read(o);
      if (p->defaultValue && *p->defaultValue == v) continue;
      if (v.kind == FormValue::Kind::List && v.list.empty()) continue;
      out += indent + "  " + prefix + p->name + " = " + v.Text() + "\n";
    }
  };
  writeProps(obj, "", nullptr);
  // Children are the components parented by obj (owned by the form like obj itself), and
  // obj's own components that have no parent (non-visual ones).
  auto writeChildren = [&](TComponent* owner) {
    if (!owner) return;
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      TComponent* c = owner->Components(i);
      TComponent* parent = c->GetParentComponent();
      if (c != obj && (parent == obj || (!parent && owner == obj))) WriteObject(c, out, depth + 1);
    }
  };
  writeChildren(obj);
  if (obj->Owner()) writeChildren(obj->Owner());
  out += indent + "end\n";
}

}  // namespace

FormObject ParseForm(std::string_view text) { return Parser(text).ParseRoot(); }

void ReadRootComponent(TComponent* root, std::string_view text) { ReadRootComponent(root, ParseForm(text)); }

void ReadRootComponent(TComponent* root, const FormObject& parsed) { Reader(root).Read(parsed); }

TComponent* ReadComponent(std::string_view text, TComponent* owner) {
  FormObject o = ParseForm(text);
  const ClassInfo* ci = FindClass(o.className);
  if (!ci || !ci->create) throw EReadError("Class " + AnsiString(o.className) + " not found");
  TComponent* root = ci->create(owner);
  try {
    root->SetName(AnsiString(o.name));
    Reader(root).Read(o);
  } catch (...) {
    delete root;
    throw;
  }
  return root;
}

std::string WriteComponent(TComponent* obj) {
  std::string out;
  WriteObject(obj, out, 0);
  return out;
}

}  // namespace vcl
