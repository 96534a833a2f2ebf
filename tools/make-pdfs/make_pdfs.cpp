// quill-make-pdfs: writes the demo's own PDFs — a one-page form with text,
// check box, radio and choice fields, and a two-page appendix to append.
//
//   quill-make-pdfs OUT_FOLDER   → OUT_FOLDER/form.pdf, OUT_FOLDER/appendix.pdf
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

QPDFObjectHandle stream(QPDF& pdf, const std::string& data, const std::string& dict = "<< >>") {
    auto s = QPDFObjectHandle::newStream(&pdf, data);
    auto d = QPDFObjectHandle::parse(dict);
    for (auto const& key : d.getKeys()) s.getDict().replaceKey(key, d.getKey(key));
    return s;
}

QPDFObjectHandle helvetica(QPDF& pdf) {
    return pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
}

QPDFObjectHandle zapf(QPDF& pdf) {
    return pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>"));
}

QPDFObjectHandle addPage(QPDF& pdf, const std::string& content, QPDFObjectHandle font) {
    auto resources = QPDFObjectHandle::newDictionary();
    auto fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/Helv", font);
    resources.replaceKey("/Font", fonts);
    auto page = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", stream(pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    return page;
}

std::string label(double x, double y, int size, const std::string& text) {
    return "BT /Helv " + std::to_string(size) + " Tf " + std::to_string(x) + " " + std::to_string(y) + " Td (" + text +
           ") Tj ET\n";
}

struct FormBuilder {
    QPDF& pdf;
    QPDFObjectHandle page;
    QPDFObjectHandle font;
    QPDFObjectHandle fields = QPDFObjectHandle::newArray();

    void attach(QPDFObjectHandle widget) {
        if (!page.hasKey("/Annots")) page.replaceKey("/Annots", QPDFObjectHandle::newArray());
        page.getKey("/Annots").appendItem(widget);
    }

    QPDFObjectHandle textField(const std::string& name, const std::string& rect, QPDFObjectHandle parent) {
        auto f = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /FT /Tx /Type /Annot /Subtype /Widget /F 4 /DA (/Helv 11 Tf 0 g) /Rect " +
                                    rect + " /MK << /BC [0.4 0.4 0.6] /BG [0.94 0.95 1] >> >>"));
        f.replaceKey("/T", QPDFObjectHandle::newUnicodeString(name));
        f.replaceKey("/P", page);
        if (parent.isNull()) {
            fields.appendItem(f);
        } else {
            f.replaceKey("/Parent", parent);
            parent.getKey("/Kids").appendItem(f);
        }
        attach(f);
        return f;
    }

    QPDFObjectHandle buttonAppearance(const std::string& glyph, bool on) {
        const std::string box = "0.94 0.95 1 rg 0 0 14 14 re f 0.4 0.4 0.6 RG 0.5 0.5 13 13 re s\n";
        const std::string mark = on ? "q 0 g BT /ZaDb 11 Tf 2 3 Td (" + glyph + ") Tj ET Q\n" : "";
        auto resources = QPDFObjectHandle::newDictionary();
        auto fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/ZaDb", zapfFont);
        resources.replaceKey("/Font", fonts);
        auto s = stream(pdf, box + mark, "<< /Type /XObject /Subtype /Form /BBox [0 0 14 14] >>");
        s.getDict().replaceKey("/Resources", resources);
        return s;
    }

    QPDFObjectHandle zapfFont;
};

void writePdf(QPDF& pdf, const std::string& path) {
    QPDFWriter w(pdf, path.c_str());
    w.setStaticID(true);  // the same bytes on every run
    w.setObjectStreamMode(qpdf_o_disable);
    w.write();
}

void makeForm(const std::string& path) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = helvetica(pdf);
    const std::string content =
        "0.2 0.3 0.5 rg 0 742 612 50 re f\n"
        "1 g BT /Helv 22 Tf 40 757 Td (Quillmark Membership Form) Tj ET\n0 g\n" +
        label(40, 690, 11, "Name") + label(40, 650, 11, "City") + label(40, 610, 11, "E-mail") +
        label(40, 560, 11, "I agree to the terms") + label(40, 520, 11, "Plan:") + label(120, 520, 11, "Basic") +
        label(220, 520, 11, "Premium") + label(40, 480, 11, "Country") +
        label(40, 420, 9, "Filled in from a FileMaker script through Quillmark.");
    auto page = addPage(pdf, content, font);

    FormBuilder b{pdf, page, font};
    b.zapfFont = zapf(pdf);

    // applicant.name and applicant.city: a parent without a kind of its own.
    auto applicant = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Kids [] >>"));
    applicant.replaceKey("/T", QPDFObjectHandle::newUnicodeString("applicant"));
    b.fields.appendItem(applicant);
    b.textField("name", "[140 682 460 702]", applicant);
    b.textField("city", "[140 642 460 662]", applicant);
    b.textField("email", "[140 602 460 622]", QPDFObjectHandle::newNull());

    // A check box whose on-state is "Ja", not "Yes".
    auto agree = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /FT /Btn /Type /Annot /Subtype /Widget /F 4 /T (agree) /V /Off /AS /Off "
                                "/Rect [180 556 194 570] /DA (/ZaDb 0 Tf 0 g) /MK << /CA (4) >> >>"));
    auto agreeAp = QPDFObjectHandle::newDictionary();
    auto agreeN = QPDFObjectHandle::newDictionary();
    agreeN.replaceKey("/Ja", b.buttonAppearance("4", true));
    agreeN.replaceKey("/Off", b.buttonAppearance("4", false));
    agreeAp.replaceKey("/N", agreeN);
    agree.replaceKey("/AP", agreeAp);
    agree.replaceKey("/P", page);
    b.fields.appendItem(agree);
    b.attach(agree);

    // A radio group "plan" with the states Basic and Premium.
    auto plan = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /FT /Btn /Ff 49152 /T (plan) /V /Off /Kids [] >>"));
    b.fields.appendItem(plan);
    const std::vector<std::pair<std::string, std::string>> radios = {{"Basic", "[100 516 114 530]"},
                                                                     {"Premium", "[200 516 214 530]"}};
    for (auto const& [state, rect] : radios) {
        auto kid = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Widget /F 4 /AS /Off /Rect " + rect + " /MK << /CA (l) >> >>"));
        auto ap = QPDFObjectHandle::newDictionary();
        auto n = QPDFObjectHandle::newDictionary();
        n.replaceKey("/" + state, b.buttonAppearance("l", true));
        n.replaceKey("/Off", b.buttonAppearance("l", false));
        ap.replaceKey("/N", n);
        kid.replaceKey("/AP", ap);
        kid.replaceKey("/Parent", plan);
        kid.replaceKey("/P", page);
        plan.getKey("/Kids").appendItem(kid);
        b.attach(kid);
    }

    // A combo box.
    auto country = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /FT /Ch /Ff 131072 /Type /Annot /Subtype /Widget /F 4 /T (country) "
        "/Opt [(France) (Germany) (Norway) (Spain)] /DA (/Helv 11 Tf 0 g) /Rect [140 474 300 494] "
        "/MK << /BC [0.4 0.4 0.6] /BG [0.94 0.95 1] >> >>"));
    country.replaceKey("/P", page);
    b.fields.appendItem(country);
    b.attach(country);

    auto dr = QPDFObjectHandle::newDictionary();
    auto drFonts = QPDFObjectHandle::newDictionary();
    drFonts.replaceKey("/Helv", font);
    drFonts.replaceKey("/ZaDb", b.zapfFont);
    dr.replaceKey("/Font", drFonts);
    auto acroForm = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    acroForm.replaceKey("/Fields", b.fields);
    acroForm.replaceKey("/DR", dr);
    acroForm.replaceKey("/DA", QPDFObjectHandle::newString("/Helv 11 Tf 0 g"));
    pdf.getRoot().replaceKey("/AcroForm", acroForm);

    auto info = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Title (Membership Form) /Author (Quillmark) /Creator (quill-make-pdfs) "
                                "/CreationDate (D:20260105093000+01'00') >>"));
    pdf.getTrailer().replaceKey("/Info", info);
    writePdf(pdf, path);
}

void makeAppendix(const std::string& path) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = helvetica(pdf);
    for (int n = 1; n <= 2; ++n) {
        addPage(pdf,
                label(40, 740, 20, "Appendix, page " + std::to_string(n)) +
                    label(40, 700, 11, "Terms and conditions of the Quillmark membership.") +
                    label(40, 680, 11, "This page was appended with Torv_AppendPDF."),
                font);
    }
    writePdf(pdf, path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quill-make-pdfs OUT_FOLDER\n");
        return 2;
    }
    try {
        const std::string dir = argv[1];
        makeForm(dir + "/form.pdf");
        makeAppendix(dir + "/appendix.pdf");
    } catch (std::exception const& e) {
        std::fprintf(stderr, "quill-make-pdfs: %s\n", e.what());
        return 1;
    }
    return 0;
}
