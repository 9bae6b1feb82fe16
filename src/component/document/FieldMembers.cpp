// The form-field creators of Document: one per field kind, each assigning
// its properties in a fixed order between "Delay" on and off.
#include "component/document/Document.h"
#include "component/document/FieldCreation.h"
#include "component/document/Vocabulary.h"

namespace pm {
namespace {

Variant CreateTextField(Document& d, Frame& f) {
  FieldCreation c(d, f, "text");
  c.assignMapped("Alignment", &vocab::Alignment, "lngAlignment");
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  c.assignPositive("CharLimit", "intCharLimit");
  c.assign("Comb", "blnComb");
  c.assign("CalcOrderIndex", "intCalcOrderIndex");
  c.assignText("DefaultValue", "strDefaultValue");
  c.assign("DoNotSpellCheck", "blnDoNotSpellCheck");
  c.assign("Display", "lngFieldDisplay");
  c.assign("FileSelect", "blnFileSelect");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("LineWidth", "intLineWidth");
  c.assign("MultiLine", "blnMultiLine");
  c.assign("Password", "blnPassword");
  c.assign("ReadOnly", "blnReadOnly");
  c.assign("Required", "blnRequired");
  c.assignColour("StrokeColor", "varBorderColor", "black");
  c.assignText("SubmitName", "strSubmitName");
  c.assignColour("TextColor", "varTextColor", "black");
  c.assignMapped("TextFont", &vocab::Font, "lngFont");
  c.assign("TextSize", "intTextSize");
  c.assignText("UserName", "strToolTipText");
  c.assign("Value", "VarValue");
  c.assignPositive("Rotation", "lngRotation");
  return {};
}

Variant CreateButtonField(Document& d, Frame& f) {
  FieldCreation c(d, f, "button");
  ignoreErrors([&] {
    if (!Trim(CStr(c.arg("strText"))).empty()) call(c.field(), "buttonSetCaption", {c.arg("strText")});
  });
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  c.assign("ButtonAlignX", "intButtonAlignX");
  c.assign("ButtonAlignY", "intButtonAlignY");
  c.assign("ButtonFitBounds", "blnButtonFitBounds");
  c.assignValue("ButtonPosition", Variant(int16_t(0)));
  c.assignValue("Highlight", Variant(int16_t(1)));
  c.assign("Display", "lngFieldDisplay");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("LineWidth", "intLineWidth");
  c.assign("ReadOnly", "blnReadOnly");
  c.assignColour("StrokeColor", "varColor", "black");
  c.assignText("SubmitName", "strSubmitName");
  c.assignColour("TextColor", "varTextColor", "black");
  c.assignMapped("TextFont", &vocab::Font, "lngFont");
  c.assign("TextSize", "intTextSize");
  c.assignText("UserName", "strToolTipText");
  c.assignPositive("Rotation", "lngRotation");
  return {};
}

// Check boxes and radio buttons share all but RadiosInUnison.
void boxSteps(FieldCreation& c, bool radio) {
  c.assignMapped("Style", &vocab::GlyphStyle, "lngGlyphStyle");
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  ignoreErrors([&] {
    if (c.arg("varExportValues").isArray()) let(c.field(), "ExportValues", c.arg("varExportValues"));
  });
  c.assignText("DefaultValue", "strDefaultValue");
  c.assign("Display", "lngFieldDisplay");
  if (radio) c.assign("RadiosInUnison", "blnRadiosInUnison");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("LineWidth", "intLineWidth");
  c.assign("ReadOnly", "blnReadOnly");
  c.assign("Required", "blnRequired");
  c.assignColour("StrokeColor", "varColor", "black");
  c.assignText("SubmitName", "strSubmitName");
  c.assignColour("TextColor", "varTextColor", "black");
  c.assign("TextSize", "intTextSize");
  c.assignText("UserName", "strToolTipText");
  c.assign("Value", "VarValue");
  c.assignPositive("Rotation", "lngRotation");
}

Variant CreateCheckBoxField(Document& d, Frame& f) {
  FieldCreation c(d, f, "checkbox");
  boxSteps(c, false);
  return {};
}

Variant CreateRadioButtonField(Document& d, Frame& f) {
  FieldCreation c(d, f, "radiobutton");
  boxSteps(c, true);
  return {};
}

// The tail combo and list boxes share after their own first steps.
void choiceTail(FieldCreation& c) {
  c.assign("ReadOnly", "blnReadOnly");
  c.assign("Required", "blnRequired");
  c.assignColour("StrokeColor", "varColor", "black");
  c.assignText("SubmitName", "strSubmitName");
  c.assignColour("TextColor", "varTextColor", "black");
  c.assignMapped("TextFont", &vocab::Font, "lngFont");
  c.assign("TextSize", "intTextSize");
  c.assignText("UserName", "strToolTipText");
  c.assign("Value", "VarValue");
  c.assignPositive("Rotation", "lngRotation");
}

Variant CreateComboBoxField(Document& d, Frame& f) {
  FieldCreation c(d, f, "combobox");
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  c.assign("CommitOnSelChange", "blnCommitOnSelChange");
  c.insertItems();
  c.assign("CalcOrderIndex", "intCalcOrderIndex");
  c.assignText("DefaultValue", "strDefaultValue");
  c.assign("Editable", "blnEditable");
  c.assign("DoNotSpellCheck", "blnDoNotSpellCheck");
  c.assign("Display", "lngFieldDisplay");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("LineWidth", "intLineWidth");
  choiceTail(c);
  return {};
}

Variant CreateListBoxField(Document& d, Frame& f) {
  FieldCreation c(d, f, "listbox");
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  c.assign("CommitOnSelChange", "blnCommitOnSelChange");
  c.insertItems();
  c.assignText("DefaultValue", "strDefaultValue");
  c.assign("Display", "lngFieldDisplay");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("MultipleSelection", "blnMultipleSelection");
  c.assign("LineWidth", "intLineWidth");
  choiceTail(c);
  return {};
}

Variant CreateSignatureField(Document& d, Frame& f) {
  FieldCreation c(d, f, "signature");
  c.assignMapped("BorderStyle", &vocab::FieldBorder, "lngBorder");
  c.assign("Display", "lngFieldDisplay");
  c.assignColour("FillColor", "varFillColor", "white");
  c.assign("LineWidth", "intLineWidth");
  c.assign("ReadOnly", "blnReadOnly");
  c.assign("Required", "blnRequired");
  c.assignColour("StrokeColor", "varColor", "black");
  c.assignText("SubmitName", "strSubmitName");
  c.assignColour("TextColor", "varTextColor", "black");
  c.assign("TextSize", "intTextSize");
  c.assignText("UserName", "strToolTipText");
  c.assign("Value", "VarValue");
  c.assignPositive("Rotation", "lngRotation");
  return {};
}

// Parameter declarations shared by several creators.
ParamSpec I(const char* n, int16_t d) {
  return P(n).opt(Variant(d));
}
ParamSpec L(const char* n, int32_t d = 0) {
  return P(n).opt(Variant(d));
}
ParamSpec B(const char* n, bool d = false) {
  return P(n).opt(Variant(d));
}
ParamSpec S(const char* n) {
  return P(n).opt(Variant(std::string()));
}
ParamSpec O(const char* n) {
  return P(n).opt(Variant::nothing());
}

void describe(Members<Document>& m) {
  m.method("CreateButtonField",
           {P("strName"),
            P("lngPage"),
            P("varCoords"),
            S("strText"),
            L("lngBorder"),
            I("intButtonAlignX", 50),
            I("intButtonAlignY", 50),
            B("blnButtonFitBounds"),
            L("lngFieldDisplay"),
            O("varFillColor"),
            I("intLineWidth", 0),
            B("blnReadOnly"),
            O("varColor"),
            S("strSubmitName"),
            O("varTextColor"),
            L("lngFont"),
            I("intTextSize", 8),
            S("strToolTipText"),
            L("lngTrigger"),
            S("strAction"),
            L("lngRotation")},
           &CreateButtonField, "Create a form button field.")
      .method(
          "CreateCheckBoxField",
          {P("strName"),         P("lngPage"),         P("varCoords"),     P("varExportValues"), L("lngBorder"),
           S("strDefaultValue"), L("lngFieldDisplay"), O("varFillColor"),  I("intLineWidth", 0), B("blnReadOnly"),
           B("blnRequired"),     O("varColor"),        S("strSubmitName"), O("varTextColor"),    I("intTextSize", 8),
           S("strToolTipText"),  O("VarValue"),        L("lngTrigger"),    S("strAction"),       L("lngRotation"),
           L("lngGlyphStyle")},
          &CreateCheckBoxField, "Create a form check box Field.")
      .method("CreateComboBoxField",
              {P("strName"),
               P("lngPage"),
               P("varCoords"),
               P("varValues"),
               L("lngBorder"),
               B("blnCommitOnSelChange"),
               I("intCalcOrderIndex", 0),
               S("strDefaultValue"),
               B("blnEditable", true),
               L("lngFieldDisplay"),
               B("blnDoNotSpellCheck"),
               O("varFillColor"),
               I("intLineWidth", 0),
               B("blnReadOnly"),
               B("blnRequired"),
               O("varColor"),
               S("strSubmitName"),
               O("varTextColor"),
               L("lngFont"),
               I("intTextSize", 8),
               S("strToolTipText"),
               O("VarValue"),
               L("lngTrigger"),
               S("strAction"),
               L("lngRotation"),
               O("varExportValues")},
              &CreateComboBoxField, "Create a form combo box Field.")
      .method("CreateListBoxField", {P("strName"),         P("lngPage"),
                                     P("varCoords"),       P("varValues"),
                                     L("lngBorder"),       B("blnCommitOnSelChange"),
                                     S("strDefaultValue"), L("lngFieldDisplay"),
                                     O("varFillColor"),    B("blnMultipleSelection"),
                                     I("intLineWidth", 0), B("blnReadOnly"),
                                     B("blnRequired"),     O("varColor"),
                                     S("strSubmitName"),   O("varTextColor"),
                                     L("lngFont"),         I("intTextSize", 8),
                                     S("strToolTipText"),  O("VarValue"),
                                     L("lngTrigger"),      S("strAction"),
                                     L("lngRotation"),     O("varExportValues")},
              &CreateListBoxField, "Create a form list box field.")
      .method("CreateRadioButtonField",
              {P("strName"),         P("lngPage"),           P("varCoords"),       P("varExportValues"),
               L("lngBorder"),       S("strDefaultValue"),   L("lngFieldDisplay"), O("varFillColor"),
               I("intLineWidth", 0), B("blnReadOnly"),       B("blnRequired"),     O("varColor"),
               S("strSubmitName"),   O("varTextColor"),      I("intTextSize", 8),  S("strToolTipText"),
               O("VarValue"),        B("blnRadiosInUnison"), L("lngTrigger"),      S("strAction"),
               L("lngRotation"),     L("lngGlyphStyle")},
              &CreateRadioButtonField, "Create a form radio button field.")
      .method("CreateSignatureField",
              {P("strName"), P("lngPage"), P("varCoords"), L("lngBorder"), L("lngFieldDisplay"), O("varFillColor"),
               I("intLineWidth", 0), B("blnReadOnly"), B("blnRequired"), O("varColor"), S("strSubmitName"),
               O("varTextColor"), I("intTextSize", 8), S("strToolTipText"), O("VarValue"), L("lngTrigger"),
               S("strAction"), L("lngRotation")},
              &CreateSignatureField, "Create a form signature field.")
      .method("CreateTextField",
              {P("strName"),
               P("lngPage"),
               P("varCoords"),
               L("lngAlignment"),
               L("lngBorder"),
               I("intCharLimit", 0),
               B("blnComb"),
               I("intCalcOrderIndex", 0),
               S("strDefaultValue"),
               L("lngFieldDisplay"),
               B("blnDoNotSpellCheck"),
               B("blnFileSelect"),
               O("varFillColor"),
               I("intLineWidth", 0),
               B("blnMultiLine"),
               B("blnPassword"),
               B("blnReadOnly"),
               B("blnRequired"),
               O("varBorderColor"),
               S("strSubmitName"),
               O("varTextColor"),
               L("lngFont"),
               I("intTextSize", 8),
               S("strToolTipText"),
               O("VarValue"),
               L("lngTrigger"),
               S("strAction"),
               L("lngRotation")},
              &CreateTextField, "Create a form text field.");
}

const DocumentMembers::Register reg("fields", &describe);

}  // namespace
}  // namespace pm
