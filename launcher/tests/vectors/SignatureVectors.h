// The signature vectors: jars that signed-jars.sh makes, read by the jar check's pass and
// readSignatures with OpenSSL's crypto in the unit tests and the launcher's own (CNG and crypt32)
// under Wine; both must give each jar the line that signature-vectors.txt gives it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/JarCheck.h"
#include "core/signature/PublisherRule.h"
#include "tests/unit/MemorySource.h"

namespace velmoor::vectors {

// "signers=ALIAS[+main][*all],... unread=ALGORITHM refused=NAME": each signer by the alias whose
// KEY.key holds its key ("?" for another), "+main" when it signs the main attributes, "*all" when
// it signs every entry; the algorithm not read, and what java would refuse, when there are.
inline std::string describe(const std::vector<unsigned char>& jar, CryptoService& crypto,
                            const std::map<std::string, std::string>& aliases) {
    JarDigests digests(crypto);
    JarPass pass(digests.hooks());
    MemorySource source(jar);
    const JarVerdict verdict = verifyJar(source, pass);
    if (verdict != JarVerdict::complete) return "verdict=" + std::to_string(int(verdict));
    const JarSignatures signatures = readSignatures(digests, pass.kept());
    const Publisher publisher = publisherOf(signatures);
    std::string text = "signers=";
    for (const JarSignatures::Signer& signer : signatures.signers) {
        std::string hex;
        for (const unsigned char byte : signer.who.key)
            hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
        const auto alias = aliases.find(hex);
        text += alias == aliases.end() ? "?" : alias->second;
        if (signer.signsMainAttributes) text += "+main";
        for (const Sha256Digest& key : publisher.keys)
            if (key == signer.who.key) text += "*all";
        text += ",";
    }
    std::string unread, refused;
    for (const wchar_t c : signatures.unreadAlgorithm) unread += static_cast<char>(c);
    for (const wchar_t c : signatures.refusedByJava) refused += static_cast<char>(c);
    return text + " unread=" + unread + " refused=" + refused;
}

}  // namespace velmoor::vectors
