// Unscramble and the about box.
#include "help/ui/About.h"

#include "HelpTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

// The other way round, written independently: byte i plus the key's byte, modulo 256.
std::string scramble(const std::string& key, const std::string& plain)
{
    std::string stored = plain;
    for (std::size_t i = 0; i < plain.size(); ++i)
        stored[i] = static_cast<char>(
            (static_cast<unsigned char>(plain[i]) + static_cast<unsigned char>(key[i % key.size()])) % 256);
    return stored;
}

TEST(UnscrambleTest, EmptyTextGivesEmptyText)
{
    EXPECT_EQ(Unscramble("clef", ""), "");
    EXPECT_EQ(Unscramble("", ""), "");
}

TEST(UnscrambleTest, EmptyKeyLeavesTheTextAsItIs)
{
    EXPECT_EQ(Unscramble("", "Texte \x01\xff"), "Texte \x01\xff");
}

TEST(UnscrambleTest, SubtractsTheKeyBytesInTurn)
{
    // 'b' - 'a' = 1, 'e' - 'b' = 3, 'g' - 'c' = 4.
    EXPECT_EQ(Unscramble("abc", "beg"), bytes({1, 3, 4}));
    // A key longer than the text: only its first bytes are used.
    EXPECT_EQ(Unscramble("abcdef", "bc"), bytes({1, 1}));
}

TEST(UnscrambleTest, ShortKeyStartsAgainAfterItsLastByte)
{
    // Key bytes 0x10, 0x20, then 0x10, 0x20, 0x10 again.
    EXPECT_EQ(Unscramble(bytes({0x10, 0x20}), bytes({0x11, 0x22, 0x13, 0x24, 0x15})),
              bytes({0x01, 0x02, 0x03, 0x04, 0x05}));
}

TEST(UnscrambleTest, BytesBelowZeroWrapModulo256)
{
    // 0x05 - 'a' (0x61) = -0x5c, that is 0xa4; 0x00 - 0xff = 1; 0xff - 0x01 = 0xfe.
    EXPECT_EQ(Unscramble("a", bytes({0x05})), bytes({0xa4}));
    EXPECT_EQ(Unscramble(bytes({0xff, 0x01}), bytes({0x00, 0xff})), bytes({0x01, 0xfe}));
}

TEST(UnscrambleTest, UndoesScramblingOfEveryByteValue)
{
    std::string plain;
    for (int v = 0; v < 256; ++v)
        plain.push_back(static_cast<char>(v));
    for (const std::string key : {"clairsons", "z", "\xff\x80\x01"}) {
        const std::string back = Unscramble(key, scramble(key, plain));
        EXPECT_EQ(back.size(), plain.size());
        EXPECT_EQ(back, plain) << "key " << key;
    }
}

TEST(AboutTest, ThreeLinesNameVersionDescriptionYear)
{
    const QStringList lines = AboutText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << AboutText().toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Sonalto version " SONALTO_VERSION));
    EXPECT_GE(lines[1].size(), 20);
    EXPECT_FALSE(lines[1].contains(QChar::ReplacementCharacter)) << "the description is not valid UTF-8";
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^20[0-9]{2}$")).match(lines[2]).hasMatch())
        << lines[2].toStdString();
}

TEST(AboutTest, BoxHasCaptionSonaltoTheThreeLinesAndOneOkButton)
{
    QString caption;
    QString text;
    int buttons = -1;
    bool okButton = false;
    WhenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        buttons = static_cast<int>(box->buttons().size());
        okButton = box->button(QMessageBox::Ok) != nullptr;
        if (okButton)
            box->button(QMessageBox::Ok)->click();
    });
    QWidget parent;
    AproposdeSonalto1Click(&parent);
    EXPECT_EQ(caption, QStringLiteral("SONALTO"));
    EXPECT_EQ(text, AboutText());
    EXPECT_EQ(text.count(QLatin1Char('\n')), 2);
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(okButton);
}

} // namespace
