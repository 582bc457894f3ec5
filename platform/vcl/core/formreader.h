// Form descriptions: the framework's text layout
//
//   object Form1: TForm1
//     Caption = 'Quotes'#13#10'second line'
//     Font.Height = -12
//     Options = [goFixedVertLine, goRangeSelect]
//     OnCreate = FormCreate
//     object Edit1: TEdit
//       Items.Strings = ('COM3' 'COM1')
//     end
//   end
//
// Values: integers ($hex too), floats, strings ('..', '' for a quote, #nn bytes, parts joined
// by +), identifiers, sets [..], lists (..), binary {hex} and collections <item .. end>.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/vcl/core/typinfo.h"

namespace vcl {

struct FormObject {
  std::string name;
  std::string className;
  std::vector<std::pair<std::string, FormValue>> props;
  std::vector<FormObject> children;
  int line = 0;
};

// Raises EReadError naming the line for a syntax error.
FormObject ParseForm(std::string_view text);

// Reads a description into an existing root (a form): sets its properties, creates the
// components it lists (owned by the root, parented by their enclosing object), binds events to
// the root's handlers and the root's fields to the components, then calls Loaded on all.
// Nothing is created when the text does not parse. Errors raise EReadError.
void ReadRootComponent(TComponent* root, std::string_view text);
void ReadRootComponent(TComponent* root, const FormObject& parsed);
// Creates the root from its registered class, owned by owner, and reads it.
TComponent* ReadComponent(std::string_view text, TComponent* owner);

// Writes the stored published properties that differ from their defaults, and the components
// whose parent component is obj, in the same layout. Events are not written.
std::string WriteComponent(TComponent* obj);

}  // namespace vcl
