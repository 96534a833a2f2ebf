// PluginSession: in-process acrobat-host with the real plug-in, for the tests.
#include "PluginSession.h"

#include "Application.h"
#include "NSAppleEventManager.h"
#include "TempDir.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quilltest {

namespace {

// Each test program has its own runtime folder; nothing is registered there, but the host may
// look at it. Made before the application, so removed after it at exit.
const quill::testsupport::TempDir& runtimeFolder() {
    static const quill::testsupport::TempDir dir("acroplug-runtime");
    return dir;
}

std::unique_ptr<acro_host::Application>& instance() {
    runtimeFolder();
    static std::unique_ptr<acro_host::Application> app;
    return app;
}

}  // namespace

std::string Reply::utf8() const {
    return quill::utf::utf16ToUtf8(units);
}

acro_host::Application& application(const std::map<std::string, std::uint32_t>& lowerVersions) {
    auto& app = instance();
    if (!app) {
        setenv("QUILLMARK_RUNTIME_DIR", runtimeFolder().path.c_str(), 1);
        acro_host::Application::Options options;
        options.pluginsDir = std::string(QUILL_BUILD_DIR) + "/Plug-ins";
        for (const auto& [name, version] : lowerVersions) options.lowerVersions[name] = version;
        app = std::make_unique<acro_host::Application>(options);
        if (!app->loadPlugins()) throw std::runtime_error("the plug-ins did not load");
    }
    return *app;
}

void reset() {
    application().closeWindows();
    send(kCloseDocEvent);
}

NSAppleEventDescriptorRef text(const std::string& utf8) {
    return NSAppleEventDescriptor::descriptorWithString(NSStr(utf8));
}

NSAppleEventDescriptorRef number(std::int32_t v) {
    return NSAppleEventDescriptor::descriptorWithInt32(v);
}

NSAppleEventDescriptorRef boolean(bool v) {
    return NSAppleEventDescriptor::descriptorWithBoolean(v);
}

NSAppleEventDescriptorRef list(const std::vector<NSAppleEventDescriptorRef>& items) {
    auto l = NSAppleEventDescriptor::listDescriptor();
    for (const auto& item : items) l->insertDescriptor(item, 0);
    return l;
}

Reply send(AEEventID eventID, const std::vector<std::pair<AEKeyword, NSAppleEventDescriptorRef>>& params) {
    application();
    auto event = NSAppleEventDescriptor::appleEventWithEventClass(kBridgeEventClass, eventID, nullptr,
                                                                  kAutoGenerateReturnID, kAnyTransactionID);
    for (const auto& [key, value] : params) event->setParamDescriptor(value, key);
    auto reply = NSAppleEventDescriptor::appleEventWithEventClass(kCoreEventClass, kAEAnswer, nullptr,
                                                                  kAutoGenerateReturnID, kAnyTransactionID);
    const OSErr err = NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(event.get(), reply.get());
    EXPECT_EQ(err, noErr) << "event " << std::hex << eventID << " was not handled";
    Reply out;
    auto errs = reply->paramDescriptorForKeyword(keyReplyText);
    if (!errs) return out;
    out.present = true;
    out.type = errs->descriptorType();
    out.bytes = errs->data();
    if (out.type == typeUnicodeText) {
        out.units.resize(out.bytes.size() / 2);
        if (!out.units.empty()) std::memcpy(out.units.data(), out.bytes.data(), out.units.size() * 2);
    } else if (auto s = errs->stringValue()) {
        out.units = s->units();
    }
    return out;
}

Reply open(const fs::path& pdf) {
    return send(kOpenDocEvent, {{keyList, list({text(pdf.string())})}});
}

std::string pageCount() {
    return send(kGetNumPagesEvent).utf8();
}

fs::path TempDir::fixture(const std::string& name, const std::string& as) const {
    const fs::path source = fs::path(QUILL_FIXTURES_DIR) / "pdfs" / name;
    const fs::path target = path() / (as.empty() ? name : as);
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    return target;
}

int qpdfPageCount(const fs::path& file) {
    QPDF pdf;
    pdf.processFile(file.string().c_str());
    return static_cast<int>(QPDFPageDocumentHelper(pdf).getAllPages().size());
}

std::string qpdfFieldValue(const fs::path& file, const std::string& fullName) {
    QPDF pdf;
    pdf.processFile(file.string().c_str());
    QPDFAcroFormDocumentHelper forms(pdf);
    for (auto& field : forms.getFormFields())
        if (field.getFullyQualifiedName() == fullName) return field.getValueAsString();
    return "<no field>";
}

namespace {

QPDFObjectHandle helvetica(QPDF& pdf) {
    return pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
}

QPDFObjectHandle addPage(QPDF& pdf, const std::string& content, QPDFObjectHandle font) {
    auto page = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
    auto fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/Helv", font);
    auto resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/Font", fonts);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    return page;
}

void write(QPDF& pdf, const fs::path& out) {
    QPDFWriter w(pdf, out.string().c_str());
    w.setStaticID(true);
    w.write();
}

}  // namespace

void writePages(const fs::path& out, int pages) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = helvetica(pdf);
    for (int i = 1; i <= pages; ++i)
        addPage(pdf, "BT /Helv 24 Tf 72 700 Td (Page " + std::to_string(i) + ") Tj ET\n", font);
    write(pdf, out);
}

void writeTextPage(const fs::path& out) {
    QPDF pdf;
    pdf.emptyPDF();
    addPage(pdf, "BT /Helv 18 Tf 72 700 Td (Hello World) Tj 0 -30 Td (Second line) Tj ET\n", helvetica(pdf));
    write(pdf, out);
}

// Field tree, in this order:
//   a       text, own FT, value "x", default "dflt"
//   b       check box, own FT, value /Off, states Yes and Off
//   person  text, own FT, value "pv"; kids first and last inherit FT
//   sig     signature
//   grp     no FT; kid c (text, own FT, value "cv")
//   dup     text, value "one";   dup (a second field) text, value "two"
//   multi   multi-select list, value [(a) (b)]
//   push    push button without a value
//   empty   text without a value
void writeWalkForm(const fs::path& out) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = helvetica(pdf);
    auto page = addPage(pdf, "BT /Helv 12 Tf 72 740 Td (Walk form) Tj ET\n", font);
    auto fields = QPDFObjectHandle::newArray();
    auto annots = QPDFObjectHandle::newArray();
    int y = 700;
    auto widget = [&](const std::string& dict) {
        auto w = pdf.makeIndirectObject(QPDFObjectHandle::parse(dict));
        w.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
        w.replaceKey("/Subtype", QPDFObjectHandle::newName("/Widget"));
        w.replaceKey("/Rect",
                     QPDFObjectHandle::parse("[72 " + std::to_string(y) + " 272 " + std::to_string(y + 16) + "]"));
        w.replaceKey("/P", page);
        y -= 24;
        annots.appendItem(w);
        return w;
    };
    auto onOff = [&]() {
        auto on = QPDFObjectHandle::newStream(&pdf, "0 0 1 rg 0 0 14 14 re f\n");
        on.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 14 14]"));
        on.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
        auto off = QPDFObjectHandle::newStream(&pdf, "");
        off.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 14 14]"));
        off.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
        auto n = QPDFObjectHandle::newDictionary();
        n.replaceKey("/Yes", on);
        n.replaceKey("/Off", off);
        auto ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", n);
        return ap;
    };
    const std::string da = " /DA (/Helv 10 Tf 0 g)";

    fields.appendItem(widget("<< /FT /Tx /T (a) /V (x) /DV (dflt)" + da + " >>"));
    auto b = widget("<< /FT /Btn /T (b) /V /Off /AS /Off >>");
    b.replaceKey("/AP", onOff());
    fields.appendItem(b);

    auto person =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Tx /T (person) /V (pv)" + da + " /Kids [] >>"));
    for (const char* kid : {"first", "last"}) {
        auto k = widget(std::string("<< /T (") + kid + ") >>");
        k.replaceKey("/Parent", person);
        person.getKey("/Kids").appendItem(k);
    }
    fields.appendItem(person);

    fields.appendItem(widget("<< /FT /Sig /T (sig) >>"));

    auto grp = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /T (grp) /Kids [] >>"));
    auto c = widget("<< /FT /Tx /T (c) /V (cv)" + da + " >>");
    c.replaceKey("/Parent", grp);
    grp.getKey("/Kids").appendItem(c);
    fields.appendItem(grp);

    fields.appendItem(widget("<< /FT /Tx /T (dup) /V (one)" + da + " >>"));
    fields.appendItem(widget("<< /FT /Tx /T (dup) /V (two)" + da + " >>"));
    fields.appendItem(widget("<< /FT /Ch /Ff 2097152 /T (multi) /Opt [(a) (b) (c)] /V [(a) (b)]" + da + " >>"));
    fields.appendItem(widget("<< /FT /Btn /Ff 65536 /T (push) >>"));
    fields.appendItem(widget("<< /FT /Tx /T (empty)" + da + " >>"));

    page.replaceKey("/Annots", annots);
    auto acroform = QPDFObjectHandle::newDictionary();
    acroform.replaceKey("/Fields", fields);
    auto dr = QPDFObjectHandle::newDictionary();
    auto drFonts = QPDFObjectHandle::newDictionary();
    drFonts.replaceKey("/Helv", font);
    dr.replaceKey("/Font", drFonts);
    acroform.replaceKey("/DR", dr);
    acroform.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 10 Tf 0 g"));
    pdf.getRoot().replaceKey("/AcroForm", pdf.makeIndirectObject(acroform));
    write(pdf, out);
}

}  // namespace quilltest
