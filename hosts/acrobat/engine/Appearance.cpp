// Widget appearances after a field's value changed: text drawn fresh, button states switched.
#include "Appearance.h"

#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFFormFieldObjectHelper.hh>

#include <qpdf/QUtil.hh>

#include <algorithm>
#include <set>
#include <sstream>

namespace quill::pdf::appearance {

namespace {

constexpr int kComboFlag = 1 << 17;

void leaveToViewer(QPDF& pdf, QPDFObjectHandle widget) {
  if (widget.hasKey("/AP")) widget.removeKey("/AP");
  auto acroForm = pdf.getRoot().getKey("/AcroForm");
  if (acroForm.isDictionary()) acroForm.replaceKey("/NeedAppearances", QPDFObjectHandle::newBool(true));
}

bool isListBox(QPDFFormFieldObjectHelper& field) {
  return field.isChoice() && (field.getFlags() & kComboFlag) == 0;
}

// The font name the default appearance selects: the name operand of its last Tf.
std::string daFontName(const std::string& da) {
  std::istringstream in(da);
  std::string token, lastName, font;
  while (in >> token) {
    if (token[0] == '/') lastName = token;
    else if (token == "Tf") font = lastName;
  }
  return font;
}

QPDFObjectHandle fontIn(QPDFObjectHandle resources, const std::string& name) {
  if (!resources.isDictionary()) return QPDFObjectHandle::newNull();
  auto fonts = resources.getKey("/Font");
  if (!fonts.isDictionary() || !fonts.hasKey(name)) return QPDFObjectHandle::newNull();
  return fonts.getKey(name);
}

// Turns `utf8` into the single-byte codes the stock writer puts into the appearance for
// `font` (found the way it finds it). False when a character has no code there, or when
// the code would not show that character's glyph in that font.
bool encodeFor(QPDFObjectHandle font, const std::string& utf8, std::string& codes) {
  std::string encoding = font.isDictionary() && font.getKey("/Encoding").isName()
                             ? font.getKey("/Encoding").getName()
                             : std::string();
  bool ok = encoding == "/WinAnsiEncoding"    ? QUtil::utf8_to_win_ansi(utf8, codes, '?')
            : encoding == "/MacRomanEncoding" ? QUtil::utf8_to_mac_roman(utf8, codes, '?')
                                              : QUtil::utf8_to_ascii(utf8, codes, '?');
  if (!ok) return false;
  if (!font.isDictionary()) return true;  // no font at all: the viewer's default shows ASCII
  if (font.getKey("/Subtype").isName() && font.getKey("/Subtype").getName() == "/Type0") return false;
  auto base = font.getKey("/BaseFont").isName() ? font.getKey("/BaseFont").getName() : std::string();
  if (base.find("Symbol") != std::string::npos || base.find("Dingbats") != std::string::npos) return false;

  std::set<int> remapped;
  auto enc = font.getKey("/Encoding");
  if (enc.isDictionary() && enc.getKey("/Differences").isArray()) {
    int code = 0;
    for (auto& item : enc.getKey("/Differences").aitems()) {
      if (item.isInteger()) code = item.getIntValueAsInt();
      else if (item.isName()) remapped.insert(code++);
    }
  }
  if (encoding.empty() && !enc.isDictionary()) {
    // The font's own (standard) encoding has curly quotes where ASCII has straight ones.
    remapped.insert('\'');
    remapped.insert('`');
  }
  auto descriptor = font.getKey("/FontDescriptor");
  bool embedded = descriptor.isDictionary() && (descriptor.hasKey("/FontFile") || descriptor.hasKey("/FontFile2") ||
                                                descriptor.hasKey("/FontFile3"));
  if (embedded && encoding.empty() && !enc.isDictionary()) return false;  // a built-in encoding we cannot read
  auto widths = font.getKey("/Widths");
  int first = font.getKey("/FirstChar").isInteger() ? font.getKey("/FirstChar").getIntValueAsInt() : 0;
  if (embedded && !widths.isArray()) return false;
  for (char c : codes) {
    int code = static_cast<unsigned char>(c);
    if (remapped.count(code)) return false;
    // An embedded font, often a subset, has a glyph only where it gives a width.
    if (embedded) {
      int at = code - first;
      if (at < 0 || at >= widths.getArrayNItems()) return false;
      auto w = widths.getArrayItem(at);
      if (!w.isNumber() || w.getNumericValue() <= 0) return false;
    }
  }
  return true;
}

bool drawable(QPDF& pdf, QPDFObjectHandle widget, QPDFFormFieldObjectHelper& field) {
  auto normal = widget.getKey("/AP").isDictionary() ? widget.getKey("/AP").getKey("/N")
                                                     : QPDFObjectHandle::newNull();
  std::string name = daFontName(field.getDefaultAppearance());
  QPDFObjectHandle font = QPDFObjectHandle::newNull();
  if (!name.empty()) {
    if (normal.isStream()) font = fontIn(normal.getDict().getKey("/Resources"), name);
    if (font.isNull()) font = fontIn(pdf.getRoot().getKey("/AcroForm").getKey("/DR"), name);
  }
  std::vector<std::string> texts{field.getValueAsString()};
  if (isListBox(field))
    for (auto& option : field.getChoices()) texts.push_back(option);  // a list box draws them all
  std::string codes;
  for (auto& text : texts) {
    bool printable = std::all_of(text.begin(), text.end(), [](char c) {
      auto u = static_cast<unsigned char>(c);
      return u >= 0x20 && u != 0x7F;  // line breaks and other controls: one line only
    });
    if (!printable || !encodeFor(font, text, codes)) return false;
  }
  return true;
}

}  // namespace

bool refreshText(QPDF& pdf, QPDFObjectHandle widget) {
  QPDFFormFieldObjectHelper field(widget);
  if (!drawable(pdf, widget, field)) {
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
