// Form speed: list every field with its value, and 200 sets + save as, on a generated
// 230-field form, beside `qpdf --json --json-key=acroform` and `pdftk fill_form` in the same run.
//
//   bench_forms [--runs N] [--keep DIR]
#include "BenchSupport.h"
#include "quill/pdf/Document.h"
#include "quill/pdf/Forms.h"
#include "quill/pdf/Save.h"

#ifdef QUILL_BENCH_TABLES
#include "AcroSDK.h"
#include "HostAPI.h"
#include "PDDocHandle.h"
#endif

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kText = 150, kChecks = 40, kRadios = 20, kCombos = 20;  // 230 fields

std::string makeForm(const fs::path& dir) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    auto fields = QPDFObjectHandle::newArray();
    std::vector<QPDFObjectHandle> pages;
    for (int p = 0; p < 5; ++p) {
        auto page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> /Annots [] >>"));
        pdf.addPage(page, false);
        pages.push_back(pdf.getAllPages().back());
    }
    auto stream = [&](const std::string& data, const std::string& dict) {
        auto s = QPDFObjectHandle::newStream(&pdf, data);
        auto d = QPDFObjectHandle::parse(dict);
        for (auto& k : d.getKeys()) s.getDict().replaceKey(k, d.getKey(k));
        return s;
    };
    int n = 0;
    auto place = [&](QPDFObjectHandle w) {
        auto page = pages[static_cast<std::size_t>(n % 5)];
        double y = 750 - (n / 5) % 45 * 16;
        w.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
        w.replaceKey("/Subtype", QPDFObjectHandle::newName("/Widget"));
        w.replaceKey("/Rect",
                     QPDFObjectHandle::parse("[20 " + std::to_string(y) + " 300 " + std::to_string(y + 14) + "]"));
        w.replaceKey("/P", page);
        page.getKey("/Annots").appendItem(w);
        ++n;
    };
    auto textAp = [&]() {
        auto ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", stream("/Tx BMC\nEMC\n", "<< /Type /XObject /Subtype /Form /BBox [0 0 280 14] >>"));
        return ap;
    };
    for (int i = 0; i < kText; ++i) {
        auto w = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /FT /Tx /DA (/Helv 9 Tf 0 g) /V (initial " + std::to_string(i) + ") >>"));
        w.replaceKey(
            "/T", QPDFObjectHandle::newString((i % 3 ? "person" : "address") + std::string(".t") + std::to_string(i)));
        w.replaceKey("/AP", textAp());
        place(w);
        fields.appendItem(w);
    }
    auto onOff = [&](const std::string& on) {
        auto nd = QPDFObjectHandle::newDictionary();
        nd.replaceKey("/" + on, stream("0 g 1 1 10 10 re f", "<< /Type /XObject /Subtype /Form /BBox [0 0 12 12] >>"));
        nd.replaceKey("/Off", stream("", "<< /Type /XObject /Subtype /Form /BBox [0 0 12 12] >>"));
        auto ap = QPDFObjectHandle::newDictionary();
        ap.replaceKey("/N", nd);
        return ap;
    };
    for (int i = 0; i < kChecks; ++i) {
        auto w = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Btn /V /Off /AS /Off >>"));
        w.replaceKey("/T", QPDFObjectHandle::newString("check" + std::to_string(i)));
        w.replaceKey("/AP", onOff("Yes"));
        place(w);
        fields.appendItem(w);
    }
    for (int i = 0; i < kRadios; ++i) {
        auto group = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Btn /Ff 49152 /V /Off /Kids [] >>"));
        group.replaceKey("/T", QPDFObjectHandle::newString("radio" + std::to_string(i)));
        for (const char* s : {"A", "B", "C"}) {
            auto kid = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /AS /Off >>"));
            kid.replaceKey("/AP", onOff(s));
            kid.replaceKey("/Parent", group);
            place(kid);
            group.getKey("/Kids").appendItem(kid);
        }
        fields.appendItem(group);
    }
    for (int i = 0; i < kCombos; ++i) {
        auto w = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /FT /Ch /Ff 131072 /DA (/Helv 9 Tf 0 g) /Opt [(Red) (Green) (Blue)] /V (Red) >>"));
        w.replaceKey("/T", QPDFObjectHandle::newString("combo" + std::to_string(i)));
        w.replaceKey("/AP", textAp());
        place(w);
        fields.appendItem(w);
    }
    auto acroForm = QPDFObjectHandle::newDictionary();
    acroForm.replaceKey("/Fields", fields);
    acroForm.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 0 Tf 0 g"));
    auto dr = QPDFObjectHandle::parse("<< /Font << >> >>");
    dr.getKey("/Font").replaceKey("/Helv", font);
    acroForm.replaceKey("/DR", dr);
    pdf.getRoot().replaceKey("/AcroForm", pdf.makeIndirectObject(acroForm));
    std::string path = (dir / "form230.pdf").string();
    QPDFWriter w(pdf, path.c_str());
    w.setStaticID(true);
    w.write();
    return path;
}

double median(const std::vector<double>& v) {
    return v.empty() ? 0 : quill::bench::stats(v).median;
}

using quill::bench::timeMs;

// Runs a tool with its output dropped; false when it is not installed or could not run.
bool runQuiet(const std::vector<std::string>& argv) {
    const int status = quill::bench::runProgram(argv);
    return status >= 0 && status != 127;
}

// What the names-with-values request does per field: own kind, name bytes, value bytes.
std::size_t listAll(quill::pdf::FormFields& forms) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        const auto& f = forms.fields()[i];
        if (f.ownKind != "Tx" && f.ownKind != "Ch" && f.ownKind != "Btn") continue;
        bytes += f.fullNamePDText.size();
        auto v = forms.value(i);
        if (v.isString())
            bytes += v.getStringValue().size();
        else if (v.isName())
            bytes += v.getName().size();
    }
    return bytes;
}

#ifdef QUILL_BENCH_TABLES
// The names-with-values walk as the plug-in makes it, through the tables.
std::size_t listThroughTables(PDDoc pd) {
    auto get = [](const char* hft, Selector sel) { return acro_host::registeredProc(hft, sel); };
    static auto load = reinterpret_cast<AFPDDocLoadPDFields_SELPROTO>(get(FormsHFTName, AFPDDocLoadPDFields_SEL));
    static auto enumerate = reinterpret_cast<AFPDDocEnumPDFields_SELPROTO>(get(FormsHFTName, AFPDDocEnumPDFields_SEL));
    struct Ctx {
        std::size_t bytes = 0;
    } ctx;
    load(pd);
    enumerate(
        pd, false, false,
        [](PDField f, void* data) -> ASBool {
            auto get = [](const char* hft, Selector sel) { return acro_host::registeredProc(hft, sel); };
            static auto isValid = reinterpret_cast<AFPDFieldIsValid_SELPROTO>(get(FormsHFTName, AFPDFieldIsValid_SEL));
            static auto cosObj =
                reinterpret_cast<AFPDFieldGetCosObj_SELPROTO>(get(FormsHFTName, AFPDFieldGetCosObj_SEL));
            static auto name = reinterpret_cast<AFPDFieldGetName_SELPROTO>(get(FormsHFTName, AFPDFieldGetName_SEL));
            static auto value = reinterpret_cast<AFPDFieldGetValue_SELPROTO>(get(FormsHFTName, AFPDFieldGetValue_SEL));
            static auto key = reinterpret_cast<CosDictGetKeyStringSELPROTO>(get(CosHFTName, CosDictGetKeyStringSEL));
            static auto type = reinterpret_cast<CosObjGetTypeSELPROTO>(get(CosHFTName, CosObjGetTypeSEL));
            static auto nameValue = reinterpret_cast<CosNameValueSELPROTO>(get(CosHFTName, CosNameValueSEL));
            static auto atomString = reinterpret_cast<ASAtomGetStringSELPROTO>(get(CoreHFTName, ASAtomGetStringSEL));
            static auto copy = reinterpret_cast<CosCopyStringValueSELPROTO>(get(CosHFTName, CosCopyStringValueSEL));
            static auto free = reinterpret_cast<ASfreeSELPROTO>(get(AcroSupportHFTName, ASfreeSEL));
            auto* c = static_cast<Ctx*>(data);
            if (!isValid(f)) return true;
            CosObj ft = key(cosObj(f), "FT");
            if (type(ft) != CosName) return true;
            std::string kind = atomString(nameValue(ft));
            if (kind != "Tx" && kind != "Ch" && kind != "Btn") return true;
            c->bytes += std::strlen(name(f));
            try {
                if (kind == "Btn") {
                    c->bytes += std::strlen(atomString(nameValue(key(cosObj(f), "V"))));
                } else {
                    char* v = copy(value(f), nullptr);
                    c->bytes += std::strlen(v);
                    free(v);
                }
            } catch (const acro_host::RequestAborted&) {
            }
            return true;
        },
        &ctx);
    return ctx.bytes;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const quill::bench::Options options = quill::bench::parseOptions(argc, argv, "bench_forms", 15);
    const int runs = options.runs;
    const fs::path& dir = options.dir;
    std::string form = makeForm(dir);
    std::string out = (dir / "filled.pdf").string();

    auto doc = quill::pdf::Document::open(form, false);
    auto formsPtr = quill::pdf::FormFields::forDocument(doc);
    auto& forms = *formsPtr;
    std::vector<std::size_t> targets;  // fields a fill touches: text, check boxes, radio groups, combos
    for (std::size_t i = 0; i < forms.size(); ++i)
        if (!forms.fields()[i].ownKind.empty()) targets.push_back(i);
    std::cout << "form: " << targets.size() << " fields, " << fs::file_size(form) << " bytes\n";

    std::vector<double> listCold, listWarm, listTables, fill, sets, saveOnly, qpdfJson, pdftkFill;
    std::size_t sink = 0;
#ifdef QUILL_BENCH_TABLES
    PDDoc pd = acro_host::newPDDoc(doc);
#endif
    for (int r = 0; r < runs; ++r) {
        listCold.push_back(timeMs([&] {
            forms.reload();
            sink += listAll(forms);
        }));
        listWarm.push_back(timeMs([&] { sink += listAll(forms); }));
#ifdef QUILL_BENCH_TABLES
        listTables.push_back(timeMs([&] { sink += listThroughTables(pd); }));
#endif
        double setMs = 0;
        fill.push_back(timeMs([&] {
            auto t0 = Clock::now();
            for (int k = 0; k < 200; ++k) {
                auto i = targets[static_cast<std::size_t>(k) % targets.size()];
                std::string kind = forms.effectiveKind(i);
                std::string value = kind == "Btn"  ? (forms.fields()[i].dict.hasKey("/Kids") ? "B" : "Yes")
                                    : kind == "Ch" ? "Blue"
                                                   : "Value number " + std::to_string(k + r);
                forms.setValue(i, QPDFObjectHandle::newString(value));
            }
            setMs = quill::bench::since(t0);
            quill::pdf::save(*doc, quill::pdf::kSaveFull | quill::pdf::kSaveCopy, out);
        }));
        sets.push_back(setMs);
        saveOnly.push_back(timeMs([&] { quill::pdf::save(*doc, quill::pdf::kSaveFull | quill::pdf::kSaveCopy, out); }));
    }
#ifdef QUILL_BENCH_TABLES
    acro_host::releasePDDoc(pd);
#endif

    // The same 200 values as an FDF for pdftk.
    std::string fdf = (dir / "values.fdf").string();
    {
        std::ofstream f(fdf, std::ios::binary);
        f << "%FDF-1.2\n1 0 obj << /FDF << /Fields [";
        for (int k = 0; k < 200; ++k) {
            auto i = targets[static_cast<std::size_t>(k) % targets.size()];
            std::string kind = forms.effectiveKind(i);
            std::string name = quill::pdf::utf16ToUtf8(forms.fields()[i].fullName);
            if (kind == "Btn")
                f << "<< /T (" << name << ") /V /" << (forms.fields()[i].dict.hasKey("/Kids") ? "B" : "Yes") << " >>";
            else
                f << "<< /T (" << name << ") /V (" << (kind == "Ch" ? "Blue" : "Value number " + std::to_string(k))
                  << ") >>";
        }
        f << "] >> >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
    }
    // The same 200 values filled by libqpdf's own C++ form helper, appearances included.
    std::vector<std::pair<std::string, std::string>> values;  // full name, value (a state name for buttons)
    for (int k = 0; k < 200; ++k) {
        auto i = targets[static_cast<std::size_t>(k) % targets.size()];
        std::string kind = forms.effectiveKind(i);
        std::string v = kind == "Btn"  ? (forms.fields()[i].dict.hasKey("/Kids") ? "/B" : "/Yes")
                        : kind == "Ch" ? "Blue"
                                       : "Value number " + std::to_string(k);
        values.emplace_back(quill::pdf::utf16ToUtf8(forms.fields()[i].fullName), v);
    }
    std::vector<double> qpdfFill, mutoolFill;
    for (int r = 0; r < std::min(runs, 7); ++r) {
        qpdfFill.push_back(timeMs([&] {
            QPDF q;
            q.processFile(form.c_str());
            QPDFAcroFormDocumentHelper afdh(q);
            std::map<std::string, QPDFFormFieldObjectHelper> byName;
            for (auto& f : afdh.getFormFields()) byName.emplace(f.getFullyQualifiedName(), f);
            for (auto& [name, v] : values) {
                auto it = byName.find(name);
                if (it == byName.end()) continue;
                if (v[0] == '/')
                    it->second.setV(QPDFObjectHandle::newName(v));
                else
                    it->second.setV(QPDFObjectHandle::newUnicodeString(v));
            }
            afdh.generateAppearancesIfNeeded();
            QPDFWriter w(q, (dir / "qpdf-fill.pdf").c_str());
            w.write();
        }));
    }
    // And by MuPDF (mutool run): 200 widgets in page order, text set, choices chosen, buttons toggled.
    std::string script = (dir / "fill.js").string();
    {
        std::ofstream js(script);
        js << "var doc = new PDFDocument(scriptArgs[0]); var n = 0;\n"
              "for (var p = 0; p < doc.countPages() && n < 200; ++p) {\n"
              "  var ws = doc.loadPage(p).getWidgets();\n"
              "  for (var i = 0; i < ws.length && n < 200; ++i, ++n) {\n"
              "    var t = ws[i].getFieldType();\n"
              "    if (t == 'text') ws[i].setTextValue('Value number ' + n);\n"
              "    else if (t == 'combobox' || t == 'listbox') ws[i].setChoiceValue('Blue');\n"
              "    else ws[i].toggle();\n"
              "    ws[i].update();\n"
              "  }\n"
              "}\n"
              "doc.save(scriptArgs[1], '');\n";
    }
    bool haveMutool = true;
    for (int r = 0; r < std::min(runs, 7) && haveMutool; ++r)
        mutoolFill.push_back(timeMs([&] {
            haveMutool = runQuiet({"mutool", "run", script, form, (dir / "mutool.pdf").string()});
        }));

    bool haveQpdf = true, havePdftk = true;
    for (int r = 0; r < std::min(runs, 7); ++r) {
        if (haveQpdf) {
            double t = timeMs([&] { haveQpdf = runQuiet({"qpdf", "--json", "--json-key=acroform", form}); });
            qpdfJson.push_back(t);
        }
        if (havePdftk) {
            double t = timeMs([&] {
                havePdftk = runQuiet({"pdftk", form, "fill_form", fdf, "output", (dir / "pdftk.pdf").string()});
            });
            pdftkFill.push_back(t);
        }
    }

    std::printf("%-44s %10s\n", "measurement (median of runs)", "ms");
    std::printf("%-44s %10.3f\n", "list all fields with values (cached tree)", median(listWarm));
    std::printf("%-44s %10.3f\n", "list all fields with values (tree re-read)", median(listCold));
    if (!listTables.empty()) std::printf("%-44s %10.3f\n", "list through the Forms and Cos tables", median(listTables));
    std::printf("%-44s %10.3f\n", "200 sets + save as", median(fill));
    std::printf("%-44s %10.3f\n", "  of which the 200 sets", median(sets));
    std::printf("%-44s %10.3f\n", "save as alone (atomic, synced)", median(saveOnly));
    if (haveQpdf) std::printf("%-44s %10.3f\n", "qpdf --json --json-key=acroform", median(qpdfJson));
    if (havePdftk) std::printf("%-44s %10.3f\n", "pdftk fill_form (200 values)", median(pdftkFill));
    std::printf("%-44s %10.3f\n", "libqpdf C++ fill + appearances + write", median(qpdfFill));
    if (haveMutool) std::printf("%-44s %10.3f\n", "mutool run fill (200 widgets) + save", median(mutoolFill));
    std::printf("fill + save: %.2fx libqpdf's own fill (goal: <= 1x)\n", median(fill) / median(qpdfFill));
    if (haveMutool) std::printf("fill + save: %.2fx mutool's fill (goal: <= 1x)\n", median(fill) / median(mutoolFill));
    double list = listTables.empty() ? median(listWarm) : median(listTables);
    if (haveQpdf && list > 0)
        std::printf("list: %.0fx faster than qpdf --json (goal: within 1 ms)\n", median(qpdfJson) / list);
    if (havePdftk && median(fill) > 0)
        std::printf("fill: %.1fx faster than pdftk (goal: within 60 ms)\n", median(pdftkFill) / median(fill));
    quill::bench::finish(options);
    return sink == 0 ? 1 : 0;
}
