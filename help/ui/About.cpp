#include "help/ui/About.h"

#include <QMessageBox>
#include <array>
#include <cstddef>

namespace {

// The key word, kept in plain beside the texts it opens.
constexpr char AboutKey[] = "clairsons";
constexpr std::size_t AboutKeyLength = sizeof(AboutKey) - 1;

// Scrambles a text while compiling, so that only the scrambled bytes reach the program.
template <std::size_t N> consteval std::array<char, N - 1> Scramble(const char (&plain)[N])
{
    std::array<char, N - 1> stored{};
    for (std::size_t i = 0; i + 1 < N; ++i)
        stored[i] = static_cast<char>(static_cast<unsigned char>(plain[i]) +
                                      static_cast<unsigned char>(AboutKey[i % AboutKeyLength]));
    return stored;
}

constexpr auto About1 = Scramble("Sonalto version " SONALTO_VERSION);
constexpr auto About2 = Scramble("Enregistrer, couper et monter des sons en classe");
constexpr auto About3 = Scramble("2025");

template <std::size_t N> QString plain(const std::array<char, N>& stored)
{
    return QString::fromStdString(
        Unscramble(std::string_view(AboutKey, AboutKeyLength), std::string_view(stored.data(), N)));
}

} // namespace

std::string Unscramble(std::string_view key, std::string_view stored)
{
    if (key.empty())
        return std::string(stored);
    std::string text(stored.size(), '\0');
    std::size_t k = 0;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        text[i] =
            static_cast<char>(static_cast<unsigned char>(stored[i]) - static_cast<unsigned char>(key[k]));
        k = k + 1 == key.size() ? 0 : k + 1;
    }
    return text;
}

QString AboutText()
{
    return plain(About1) + QLatin1Char('\n') + plain(About2) + QLatin1Char('\n') + plain(About3);
}

void AproposdeSonalto1Click(QWidget* parent)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(AboutCaption), AboutText(), QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.exec();
}
