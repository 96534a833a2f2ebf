// Encryption of the objects an incremental update writes: the file's own method and key.
#include "IncrementalState.h"

#include <qpdf/QPDFCryptoImpl.hh>
#include <qpdf/QPDFCryptoProvider.hh>

#include <cstring>

namespace quill::pdf {

std::string Crypt::apply(QPDF::encryption_method_e method, QPDFObjGen og, const std::string& plain) const {
    if (!on || method == QPDF::e_none) return plain;
    if (method == QPDF::e_unknown) cannotUpdate("its encryption method is not known");
    bool aes = method == QPDF::e_aes || method == QPDF::e_aesv3;
    std::string k = QPDF::compute_data_key(key, og.getObj(), og.getGen(), aes, V, R);
    auto impl = QPDFCryptoProvider::getImpl();
    if (!aes) {
        std::string out(plain.size(), '\0');
        impl->RC4_init(reinterpret_cast<const unsigned char*>(k.data()), static_cast<int>(k.size()));
        impl->RC4_process(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                          reinterpret_cast<unsigned char*>(out.data()));
        impl->RC4_finalize();
        return out;
    }
    constexpr std::size_t kBlock = QPDFCryptoImpl::rijndael_buf_size;
    unsigned char iv[kBlock];
    impl->provideRandomData(iv, kBlock);
    std::string out(reinterpret_cast<const char*>(iv), kBlock);
    unsigned char chain[kBlock];
    std::memcpy(chain, iv, kBlock);
    // PKCS#5 padding: always one to sixteen bytes.
    std::size_t pad = kBlock - plain.size() % kBlock;
    std::string padded = plain + std::string(pad, static_cast<char>(pad));
    impl->rijndael_init(true, reinterpret_cast<const unsigned char*>(k.data()), k.size(), true, chain);
    for (std::size_t i = 0; i < padded.size(); i += kBlock) {
        unsigned char in[kBlock], o[kBlock];
        std::memcpy(in, padded.data() + i, kBlock);
        impl->rijndael_process(in, o);
        out.append(reinterpret_cast<const char*>(o), kBlock);
    }
    impl->rijndael_finalize();
    return out;
}

Crypt cryptOf(QPDF& q) {
    Crypt c;
    int P = 0;
    QPDF::encryption_method_e files = QPDF::e_none;
    if (!q.isEncrypted(c.R, P, c.V, c.streams, c.strings, files)) return c;
    c.on = true;
    c.key = q.getEncryptionKey();
    QPDFObjectHandle enc = q.getTrailer().getKey("/Encrypt");
    QPDFObjectHandle em = enc.isDictionary() ? enc.getKey("/EncryptMetadata") : QPDFObjectHandle::newNull();
    c.encryptMetadata = !(em.isBool() && !em.getBoolValue());
    if (c.V < 4) c.streams = c.strings = QPDF::e_rc4;
    return c;
}

std::string md5(const std::string& data) {
    auto impl = QPDFCryptoProvider::getImpl();
    impl->MD5_init();
    impl->MD5_update(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    impl->MD5_finalize();
    unsigned char digest[16];
    impl->MD5_digest(digest);
    return std::string(reinterpret_cast<const char*>(digest), 16);
}

}  // namespace quill::pdf
