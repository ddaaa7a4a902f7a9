#include "engine/text/utf8check.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANTA_UTF8_AVX2 1
#include <cstring>
#include <immintrin.h>
#endif

namespace corvanta {

#ifdef CORVANTA_UTF8_AVX2

namespace {

// Qt's own check (QByteArrayView::isValidUtf8) goes byte by byte through every non-ASCII character, which costs more
// than the kernel's copy of the same bytes when a text has a few of them on every line. This is the table lookup
// check of Keiser and Lemire ("Validating UTF-8 In Less Than One Instruction Per Byte", 2021) on 32 bytes at a time.
// The error classes of a byte pair, one bit each; a pair is malformed when the three lookups agree on one.
constexpr char kTooShort = 1 << 0;       // a lead byte not followed by a continuation
constexpr char kTooLong = 1 << 1;        // a continuation after ASCII
constexpr char kOverlong3 = 1 << 2;      // E0 80..9F
constexpr char kTooLarge = 1 << 3;       // F4 90..BF, F5..FF 90..BF
constexpr char kSurrogate = 1 << 4;      // ED A0..BF
constexpr char kOverlong2 = 1 << 5;      // C0, C1
constexpr char kTooLarge1000 = 1 << 6;   // F5..FF 80..8F
constexpr char kOverlong4 = 1 << 6;      // F0 80..8F
constexpr char kTwoConts = char(1 << 7); // a continuation after a continuation
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("avx2"))) __m256i lookup(__m256i nibbles, __m256i table) {
    return _mm256_shuffle_epi8(table, nibbles);
}

__attribute__((target("avx2"))) __m256i table16(char c0, char c1, char c2, char c3, char c4, char c5, char c6, char c7,
                                                char c8, char c9, char c10, char c11, char c12, char c13, char c14,
                                                char c15) {
    return _mm256_setr_epi8(c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15, c0, c1, c2, c3, c4,
                            c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15);
}

// The 32 bytes before \a input's, shifted in from \a previous by \a n (1 to 3).
template <int n> __attribute__((target("avx2"))) __m256i before(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - n);
}

class Avx2Check {
public:
    __attribute__((target("avx2"))) Avx2Check()
        : m_error(_mm256_setzero_si256())
        , m_previous(_mm256_setzero_si256())
        , m_previousIncomplete(_mm256_setzero_si256()) {}

    /// Checks the next 32 bytes.
    // No shortcut for all-ASCII bytes: in text with a non-ASCII character every line or so, the branch would be
    // mispredicted more often than the full check costs.
    __attribute__((target("avx2"))) void feed(__m256i input) {
        const __m256i lowNibble = _mm256_set1_epi8(0x0F);
        const __m256i prev1 = before<1>(input, m_previous);
        const __m256i special = _mm256_and_si256(
            _mm256_and_si256(lookup(_mm256_and_si256(_mm256_srli_epi16(prev1, 4), lowNibble), byte1High()),
                             lookup(_mm256_and_si256(prev1, lowNibble), byte1Low())),
            lookup(_mm256_and_si256(_mm256_srli_epi16(input, 4), lowNibble), byte2High()));
        // The second and third continuation of 3- and 4-byte sequences: two continuations in a row are right
        // exactly there.
        const __m256i third = _mm256_subs_epu8(before<2>(input, m_previous), _mm256_set1_epi8(char(0xE0 - 0x80)));
        const __m256i fourth = _mm256_subs_epu8(before<3>(input, m_previous), _mm256_set1_epi8(char(0xF0 - 0x80)));
        const __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
        m_error = _mm256_or_si256(m_error, _mm256_xor_si256(must23, special));
        // A lead byte in one of the last three places still needs bytes that the next 32 must bring.
        m_previousIncomplete = _mm256_subs_epu8(
            input, _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1)));
        m_previous = input;
    }

    /// True when nothing fed was malformed and no sequence is left open.
    __attribute__((target("avx2"))) bool wellFormed() const {
        const __m256i error = _mm256_or_si256(m_error, m_previousIncomplete);
        return _mm256_testz_si256(error, error);
    }

private:
    __attribute__((target("avx2"))) static __m256i byte1High() {
        return table16(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
                       kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
                       kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
    }
    __attribute__((target("avx2"))) static __m256i byte1Low() {
        constexpr char large = kCarry | kTooLarge | kTooLarge1000;
        return table16(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
                       kCarry | kTooLarge, large, large, large, large, large, large, large, large, large | kSurrogate,
                       large, large);
    }
    __attribute__((target("avx2"))) static __m256i byte2High() {
        constexpr char cont = kTooLong | kOverlong2 | kTwoConts;
        return table16(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                       cont | kOverlong3 | kTooLarge1000 | kOverlong4, cont | kOverlong3 | kTooLarge,
                       cont | kSurrogate | kTooLarge, cont | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort,
                       kTooShort);
    }

    __m256i m_error;
    __m256i m_previous;
    __m256i m_previousIncomplete;
};

__attribute__((target("avx2"))) bool checkAvx2(const unsigned char* data, qsizetype size) {
    Avx2Check check;
    qsizetype i = 0;
    for (; i + 32 <= size; i += 32)
        check.feed(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i)));
    if (i < size) {
        // The rest, padded with ASCII: a sequence cut short at the end then meets a byte that cannot continue it.
        alignas(32) unsigned char last[32] = {};
        std::memcpy(last, data + i, size_t(size - i));
        check.feed(_mm256_load_si256(reinterpret_cast<const __m256i*>(last)));
    }
    return check.wellFormed();
}

} // namespace

bool isWellFormedUtf8(QByteArrayView bytes) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (!avx2)
        return bytes.isValidUtf8();
    return checkAvx2(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

#else

bool isWellFormedUtf8(QByteArrayView bytes) {
    return bytes.isValidUtf8();
}

#endif

} // namespace corvanta
