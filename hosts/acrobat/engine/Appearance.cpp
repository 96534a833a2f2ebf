// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#include "Appearance.h"

#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>

#include <algorithm>

namespace quill::pdf::appearance {

bool canDraw(const std::string& utf8) {
  return std::all_of(utf8.begin(), utf8.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 0x20 && u < 0x7F) || u == '\n' || u == '\r' || u == '\t';
  });
}

namespace {

constexpr int kComboFlag = 1 << 17;

void leaveToViewer(QPDF& pdf, QPDFObjectHandle widget) {
  if (widget.hasKey("/AP")) widget.removeKey("/AP");
  auto acroForm = pdf.getRoot().getKey("/AcroForm");
  if (acroForm.isDictionary()) acroForm.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
}

bool isComboOrNotChoice(QPDFFormFieldObjectHelper& field) {
  if (!field.isChoice()) return true;
  return (field.getFlags() & kComboFlag) != 0;
}

}  // namespace

bool refreshText(QPDF& pdf, QPDFObjectHandle widget) {
  QPDFFormFieldObjectHelper field(widget);
  bool drawable = canDraw(field.getValueAsString());
  if (drawable && !isComboOrNotChoice(field)) {
    // A list box draws its whole option list, so every option must be drawable too.
    for (const auto& option : field.getChoices())
      if (!canDraw(option)) drawable = false;
  }
  if (!drawable) {
    leaveToViewer(pdf, widget);
    return false;
  }
  try {
    QPDFAnnotationObjectHelper annotation(widget);
    field.generateAppearance(annotation);
    // The stock writer only queues a filter on the stream, applied at every save; a field
    // set a hundred times would stack a hundred filters. Draw it now into a fresh stream.
    auto normal = widget.getKey("/AP").getKey("/N");
    if (normal.isStream()) {
      auto data = normal.getStreamData(qpdf_dl_all);
      auto fresh = QPDFObjectHandle::newStream(&pdf, data);
      auto dict = normal.getDict();
      for (const auto& key : dict.getKeys()) {
        if (key == "/Length" || key == "/Filter" || key == "/DecodeParms") continue;
        fresh.getDict().replaceKey(key, dict.getKey(key));
      }
      widget.getKey("/AP").replaceKey("/N", fresh);
    }
  } catch (const std::exception&) {
    // A damaged appearance stream or resource: better no appearance than a stale one.
    leaveToViewer(pdf, widget);
    return false;
  }
  return true;
}

std::vector<std::string> onStates(QPDFObjectHandle widget) {
  std::vector<std::string> states;
  auto ap = widget.getKey("/AP");
  if (!ap.isDictionary()) return states;
  for (const char* which : {"/N", "/D"}) {
    auto dict = ap.getKey(which);
    if (!dict.isDictionary()) continue;
    for (const auto& key : dict.getKeys()) {
      std::string name = key.substr(1);
      if (name != "Off" && std::find(states.begin(), states.end(), name) == states.end())
        states.push_back(name);
    }
  }
  return states;
}

void showState(QPDFObjectHandle widget, const std::string& state) {
  auto normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N")
                                                     : QPDFObjectHandle::newNull();
  bool has = normal.isDictionary() && normal.hasKey("/" + state);
  widget.replaceKey("/AS", QPDFObjectHandle::newName(has ? "/" + state : "/Off"));
}

}  // namespace quill::pdf::appearance
