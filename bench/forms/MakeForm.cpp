// Writes a generated form of N text fields (f0 ... fN-1, Helvetica, 45 a page) for the fill
// benches.
//
//   bench_make_form N OUT.pdf
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[1]) <= 0) {
        std::cerr << "usage: bench_make_form N OUT.pdf\n";
        return 2;
    }
    const int n = std::atoi(argv[1]);
    QPDF pdf;
    pdf.emptyPDF();
    auto font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    auto fields = QPDFObjectHandle::newArray();
    QPDFObjectHandle page;
    for (int k = 0; k < n; ++k) {
        if (k % 45 == 0) {
            page = pdf.makeIndirectObject(
                QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> /Annots [] >>"));
            pdf.addPage(page, false);
            page = pdf.getAllPages().back();
        }
        double y = 750 - (k % 45) * 16;
        auto ap = QPDFObjectHandle::newStream(&pdf, "/Tx BMC\nEMC\n");
        ap.replaceDict(QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Form /BBox [0 0 280 14] >>"));
        auto w = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /FT /Tx /DA (/Helv 10 Tf 0 g) /Rect [20 " +
                                    std::to_string(y) + " 300 " + std::to_string(y + 14) + "] >>"));
        w.replaceKey("/T", QPDFObjectHandle::newString("f" + std::to_string(k)));
        w.replaceKey("/P", page);
        auto apDict = QPDFObjectHandle::newDictionary();
        apDict.replaceKey("/N", ap);
        w.replaceKey("/AP", apDict);
        page.getKey("/Annots").appendItem(w);
        fields.appendItem(w);
    }
    auto acroForm = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /DA (/Helv 10 Tf 0 g) >>"));
    acroForm.replaceKey("/Fields", fields);
    auto dr = QPDFObjectHandle::parse("<< /Font << >> >>");
    dr.getKey("/Font").replaceKey("/Helv", font);
    acroForm.replaceKey("/DR", dr);
    pdf.getRoot().replaceKey("/AcroForm", acroForm);
    QPDFWriter w(pdf, argv[2]);
    w.write();
    return 0;
}
