// The form's number reading: like atoi and atof, in any user locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/text_number.h"

using namespace velmora;

namespace {

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();

#ifndef _WIN32
// The C library's own conversions, run in the "C" locale whatever the
// process locale is. They are the reference on GNU systems; the Windows C
// runtime reads reals otherwise (no hexadecimal, "inf" or "nan"), so there
// the readings are held against the ones recorded from the GNU C library.
class InCLocale {
public:
    InCLocale() : locale_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))), previous_(uselocale(locale_)) {}
    ~InCLocale() {
        uselocale(previous_);
        freelocale(locale_);
    }
    InCLocale(const InCLocale&) = delete;
    InCLocale& operator=(const InCLocale&) = delete;

private:
    locale_t locale_;
    locale_t previous_;
};

std::int32_t ReferenceInteger(const std::string& text) {
    const InCLocale c;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value < Int32Min ? Int32Min : value > Int32Max ? Int32Max : static_cast<std::int32_t>(value);
}

double ReferenceReal(const std::string& text) {
    const InCLocale c;
    return std::strtod(text.c_str(), nullptr);
}
#endif

// Same bits: tells -0 from 0 and compares NaNs by their payload and sign.
bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// text with every byte outside printable ASCII as %XX, so a failure shows it.
std::string Shown(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > ' ' && byte < 0x7F && byte != '%') {
            shown += c;
        } else {
            constexpr char Hex[] = "0123456789ABCDEF";
            shown += {'%', Hex[byte >> 4], Hex[byte & 15]};
        }
    }
    return shown;
}

// Strings made mostly of what numbers are made of, with some of everything else.
std::string RandomText(std::mt19937& random) {
    static const std::vector<std::string> pieces = {
        "0", "1", "5", "9", "00", "123", ".", ".", "-", "+", "e", "E", "e-", "e+", "p", "P", "x", "X", "0x", "0X",
        "a", "f", "F", "inf", "INF", "infinity", "iNfInItY", "nan", "NaN", "nan(", "nan(abc)", "(", ")", "_",
        " ", "\t", "\n", "\v", "\f", "\r", std::string(1, '\0'), ",", "\xc2\xa0", "\xd9\xa3", "\xef\xbc\x91",
        "\xc3\xa9", "\xff", "999999999999999999999", "4294967296", "2147483647", "2147483648", "e99999",
        "e-99999", "1.7976931348623157e308", "2.2250738585072014e-308", "4.9406564584124654e-324"};
    std::uniform_int_distribution<std::size_t> count(0, 8);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t n = count(random); n > 0; --n) {
        text += pieces[pick(random)];
    }
    return text;
}

// Texts at the edges of what the readers take.
std::vector<std::string> EdgeCases() {
    std::vector<std::string> cases = {
        "", "+", "-", "+-1", "-+1", " ", ".", "e5", ".e5", "0x", "0x.", "0x.p1", "0x1p", "0x1p-", "0x1P+4",
        "0X1.FFFFFFFFFFFFFP1023", "0x1p-1074", "0x1p-1075", "0x1p1024", "inf", "INF", "infin", "infinity",
        "infinityx", "-inf", "nan", "NAN", "-nan", "nan()", "nan(123)", "nan(0x1f)", "nan(", "nan(a b)",
        "1e308", "1e309", "-1e309", "2e-308", "4e-324", "2e-324", "1e-99999999999999999999",
        "1e99999999999999999999", "0.000000000000000000000000000000000000000000001e45",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "9007199254740993", "0.1", "3.4028235677973366e38",
        std::string("\0" "5", 2), std::string("5\0" "5", 3), "\xff" "1", "1\xff", "\xd9\xa3",
        "\xc2\xa0" "1", "\t-0", "-0", "-0.0e0", "00000000000000000000000000000000000000000000000001",
        "-2147483649", "2147483647.9", "9223372036854775807", "9223372036854775808", "-9223372036854775809",
        "18446744073709551616", "0x-1", "0x+1", "--1", "-.5", "0x1.8p-1075", "0x.8", "-0x1p99999999999",
        "0x0p99999999999", "nan(0777)", "nan(08)", "nan(0x)", "nan(18446744073709551616)", "nan(_1)",
        "0x1.000000000000080000000000000000000000001p0", "0x1.00000000000008p0", "0x1.00000000000018p0",
        "0x1p+-1", "1e+-1", "0x8000000000000000000000011P+-1", "1e-", "1.5E+", "0x1.8P",
    };
    // Built piece by piece: GCC 12 warns falsely of overlapping copies in
    // chains of string additions here.
    cases.emplace_back(400, '9');
    cases.emplace_back("0.").append(800, '0').append("1e800");
    cases.emplace_back(5000, '1').append("e-4990");
    cases.emplace_back("1.").append(2000, '0').append("1");
    cases.emplace_back(1000, ' ').append("8");
    return cases;
}

// The seed of the random texts, and how many there are.
constexpr std::mt19937::result_type RandomSeed = 20240611;
constexpr int RandomCount = 50000;

// What the readers make of each text, one line each, with the reals' bits.
std::string Readings(const std::vector<std::string>& texts) {
    std::ostringstream lines;
    for (const std::string& text : texts) {
        const double real = TextToReal(text);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &real, sizeof bits);
        lines << Shown(text) << ' ' << TextToInteger(text) << ' ' << std::hex << bits << std::dec << '\n';
    }
    return lines.str();
}

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    }
    return hash;
}

// Every test runs under a German locale where there is one, where the C
// library's own atof reads "0.015" as 0.
class TextNumber : public testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
#ifdef _WIN32
        german_ = std::setlocale(LC_ALL, "German_Germany.1252") != nullptr;
#else
        german_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
#endif
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

    bool german_ = false;

private:
    std::string saved_;
};

}  // namespace


TEST_F(TextNumber, Integers) {
    const struct {
        std::string text;
        std::int32_t value;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {" 7", 7},
        {"-", 0},
        {"-5x", -5},
        {"0x1A", 0},                         // no hexadecimal
        {"2147483648", Int32Max},            // one past the largest saturates
        {"99999999999999999999999", Int32Max},
        {"4294967297", Int32Max},            // 2^32 + 1 saturates rather than wraps
        {"-99999999999", Int32Min},
        {std::string("12\0" "34", 5), 12},  // text stops at a NUL
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Shown(c.text));
        EXPECT_EQ(TextToInteger(c.text), c.value);
    }
}

TEST_F(TextNumber, Reals) {
    const struct {
        std::string text;
        double value;
    } cases[] = {
        {"1e-2", 0.01},
        {" 7", 7.0},
        {"0,5", 0.0},  // a comma is no decimal separator
        {"0x1.8p3", 12.0},
        {std::string("0.5\0" "5", 5), 0.5},
        {"1e400", std::numeric_limits<double>::infinity()},
        {"-Infinity", -std::numeric_limits<double>::infinity()},
        {"-1e-400", -0.0},
        {"0x1p-1074", std::numeric_limits<double>::denorm_min()},
        {"0x1p-1075", 0.0},  // half the smallest step rounds to even, 0
        {"0x1.8p-1075", std::numeric_limits<double>::denorm_min()},
        {" -0X1P+4x", -16.0},
        {"0x", 0.0},
        {"0x-1", 0.0},  // no sign after 0x
        {"-+1", 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Shown(c.text));
        EXPECT_TRUE(SameBits(TextToReal(c.text), c.value)) << TextToReal(c.text);
    }
}

TEST_F(TextNumber, NotANumberKeepsItsSignAndPayload) {
    const struct {
        std::string text;
        std::uint64_t bits;
    } cases[] = {
        {"nan", 0x7FF8000000000000u},
        {"-NaN", 0xFFF8000000000000u},
        {"nan(123)", 0x7FF800000000007Bu},
        {"nan(0x1f)", 0x7FF800000000001Fu},
        {"nan(017)", 0x7FF800000000000Fu},              // octal
        {"nan(abc)", 0x7FF8000000000000u},              // not a number: no payload
        {"nan(123", 0x7FF8000000000000u},               // not closed: "nan" alone
        {"nan(18446744073709551616)", 0x7FFFFFFFFFFFFFFFu},  // saturates, low 51 bits kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Shown(c.text));
        const double real = TextToReal(c.text);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &real, sizeof bits);
        EXPECT_EQ(bits, c.bits) << std::hex << bits;
    }
}

TEST_F(TextNumber, GermanLocaleStillReadsAPoint) {
    if (!german_) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is missing: ctest makes one and points LOCPATH at it";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    ASSERT_EQ(std::atof("0.5"), 0.0);
    EXPECT_EQ(static_cast<float>(TextToReal("0.015")), 0.015f);
    EXPECT_EQ(static_cast<float>(TextToReal("0.25")), 0.25f);
    EXPECT_TRUE(std::isnan(TextToReal("nan")));
}

#ifndef _WIN32
TEST_F(TextNumber, AgreesWithTheCLibraryOnRandomText) {
    std::mt19937 random(RandomSeed);
    for (int i = 0; i < RandomCount; ++i) {
        const std::string text = RandomText(random);
        const std::int32_t integer = TextToInteger(text);
        const double real = TextToReal(text);
        const double scanned = ScanReal(text);
        if (integer != ReferenceInteger(text) || !SameBits(real, ReferenceReal(text)) ||
            !SameBits(scanned, ReferenceReal(text))) {
            FAIL() << "seed " << RandomSeed << ", case " << i << ": \"" << Shown(text) << "\" read as " << integer
                   << ", " << real << " and " << scanned << " (own scan), the C library says "
                   << ReferenceInteger(text) << " and " << ReferenceReal(text);
        }
    }
}

TEST_F(TextNumber, AgreesWithTheCLibraryOnEdgeCases) {
    for (const std::string& text : EdgeCases()) {
        SCOPED_TRACE(Shown(text));
        EXPECT_EQ(TextToInteger(text), ReferenceInteger(text));
        EXPECT_TRUE(SameBits(TextToReal(text), ReferenceReal(text)));
        EXPECT_TRUE(SameBits(ScanReal(text), ReferenceReal(text))) << "own scan " << ScanReal(text);
    }
}
#endif

// The readings of the edge cases and the random texts, as digests of the
// lines Readings makes, recorded from the GNU C library: on a GNU system the
// two tests above hold TextToReal to that library, so these digests are its
// readings; on Windows, whose C runtime reads otherwise, they show that the
// program reads numbers exactly as it does on Linux.
TEST_F(TextNumber, ReadsAsTheGnuCLibraryOnEverySystem) {
    constexpr std::uint64_t EdgeDigest = 14865659820125888625u;
    constexpr std::uint64_t RandomDigest = 5928930111458739917u;
    const std::string edge = Readings(EdgeCases());
    EXPECT_EQ(Fnv1a(edge), EdgeDigest) << "the readings of the edge cases:\n" << edge;
    std::mt19937 random(RandomSeed);
    std::vector<std::string> texts;
    for (int i = 0; i < RandomCount; ++i) {
        texts.push_back(RandomText(random));
    }
    EXPECT_EQ(Fnv1a(Readings(texts)), RandomDigest);
}
