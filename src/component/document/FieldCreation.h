// The frame every form-field creator of Document shares: the new field is
// added, gets its action and has "Delay" on while the creator assigns its
// properties one by one, each step on its own (a property the viewer
// refuses does not undo the field or stop the others), then "Delay" off.
#pragma once

#include <string_view>

#include "component/document/Document.h"

namespace pm {

class FieldCreation {
 public:
  // Adds the field (a failure of "addField" raises, with the component as
  // source, before anything else happens), sets the action unless the
  // trigger is 10, and switches "Delay" on.
  FieldCreation(Document& d, Frame& f, const char* typeName);
  // Switches "Delay" off again and releases the field.
  ~FieldCreation();
  FieldCreation(const FieldCreation&) = delete;
  FieldCreation& operator=(const FieldCreation&) = delete;

  // The caller's argument of the parameter with this name.
  const Variant& arg(std::string_view param) const;

  // prop = the argument, unchanged.
  void assign(const char* prop, std::string_view param);
  void assignValue(const char* prop, const Variant& v);
  // prop = the name the vocabulary gives for the argument's code.
  void assignMapped(const char* prop, std::string (*map)(const Variant&), std::string_view param);
  // prop = the argument when it is an array, else the JavaScript object's
  // colour of that name ("white", "black").
  void assignColour(const char* prop, std::string_view param, const char* defaultColour);
  // prop = the argument only when it is not empty after trimming.
  void assignText(const char* prop, std::string_view param);
  // prop = the argument only when it is greater than 0.
  void assignPositive(const char* prop, std::string_view param);
  // Items of a combo or list box from varValues and varExportValues.
  void insertItems();

  const ObjectRef& field() const { return field_; }

 private:
  Document& d_;
  Frame& f_;
  ObjectRef field_;
};

// lngPage - 1 with Basic's arithmetic on the argument's own type.
Variant pageIndexOf(const Variant& page);

}  // namespace pm
