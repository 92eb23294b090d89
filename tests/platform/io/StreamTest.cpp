#include "platform/io/Stream.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Counts the content changes a memory stream reports.
class CountingStream : public TMemoryStream
{
public:
    int changes = 0;

protected:
    void ContentChanged() override { ++changes; }
};

std::string tempDir()
{
    std::string pattern = testing::TempDir() + "sonalto-stream-XXXXXX";
    const char* dir = mkdtemp(pattern.data());
    return dir ? std::string(dir) + "/" : testing::TempDir();
}

TEST(MemoryStream, WriteReadSeekAndGrow)
{
    TMemoryStream s;
    const std::string text = "bonjour";
    EXPECT_EQ(s.Write(text.data(), text.size()), text.size());
    EXPECT_EQ(s.Size(), 7u);
    EXPECT_EQ(s.Position(), 7u);
    EXPECT_EQ(s.Seek(-4, SeekOrigin::End), 3);
    char buffer[16] = {};
    EXPECT_EQ(s.Read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer), "jour");
    EXPECT_EQ(s.Read(buffer, 1), 0u);
    EXPECT_EQ(s.Seek(-1, SeekOrigin::Beginning), -1);
    EXPECT_EQ(s.Position(), 7u);
    // A write past the end leaves zero bytes in the gap.
    s.Seek(10, SeekOrigin::Beginning);
    s.Write("!", 1);
    ASSERT_EQ(s.Size(), 11u);
    EXPECT_EQ(s.Memory()[7], 0);
    EXPECT_EQ(s.Memory()[9], 0);
    EXPECT_EQ(s.Memory()[10], '!');
    // Many small writes do not reallocate at each one.
    TMemoryStream big;
    std::size_t reallocations = 0;
    std::size_t capacity = big.Capacity();
    for (int i = 0; i < 100000; ++i) {
        big.Write(&i, sizeof i);
        if (big.Capacity() != capacity) {
            ++reallocations;
            capacity = big.Capacity();
        }
    }
    EXPECT_LT(reallocations, 30u);
    EXPECT_EQ(big.Size(), 400000u);
}

TEST(MemoryStream, SetSizeZeroFillsAndClampsPosition)
{
    TMemoryStream s;
    s.Write("abcdef", 6);
    s.SetSize(3);
    EXPECT_EQ(s.Position(), 3u);
    s.SetSize(5);
    EXPECT_EQ(s.Memory()[3], 0);
    EXPECT_EQ(s.Memory()[4], 0);
    s.Clear();
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_EQ(s.Position(), 0u);
    EXPECT_EQ(s.Memory(), nullptr);
}

TEST(MemoryStream, EveryContentChangeIsReported)
{
    CountingStream s;
    s.Write("ab", 2);
    EXPECT_EQ(s.changes, 1);
    s.Seek(0, SeekOrigin::Beginning);
    char c;
    s.Read(&c, 1);
    EXPECT_EQ(s.changes, 1); // reading and seeking change nothing
    s.SetSize(10);
    s.Clear();
    TMemoryStream other;
    other.Write("xyz", 3);
    s.LoadFromStream(other);
    s.CopyContentFrom(other);
    s.AdoptBlock(HeapBlock(4));
    EXPECT_EQ(s.changes, 6);
    s.SwapContent(other);
    EXPECT_EQ(s.changes, 7);
    EXPECT_EQ(s.Size(), 3u);
    EXPECT_EQ(other.Size(), 4u);
}

TEST(MemoryStream, LoadFromStreamCopiesWholeSourceFromItsStart)
{
    TMemoryStream source;
    source.Write("0123456789", 10);
    source.Seek(5, SeekOrigin::Beginning);
    TMemoryStream dest;
    dest.LoadFromStream(source);
    EXPECT_EQ(dest.Size(), 10u);
    EXPECT_EQ(dest.Position(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.Memory()), 10), "0123456789");
    const char bytes[] = "vue";
    TBytesView view(bytes, 3);
    view.Seek(2, SeekOrigin::Beginning);
    dest.LoadFromStream(view);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.Memory()), 3), "vue");
    dest.LoadFromStream(dest); // itself: nothing happens
    EXPECT_EQ(dest.Size(), 3u);
    TMemoryStream copy;
    EXPECT_EQ(copy.CopyFrom(dest, 0), 3u);
    EXPECT_EQ(copy.Size(), 3u);
}

TEST(MemoryStream, FileRoundTripAndErrors)
{
    const std::string dir = tempDir();
    TMemoryStream s;
    std::vector<unsigned char> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 7);
    s.Write(bytes.data(), bytes.size());
    s.SaveToFile(dir + "son.wav");
    TMemoryStream back;
    back.LoadFromFile(dir + "son.wav");
    ASSERT_EQ(back.Size(), bytes.size());
    EXPECT_EQ(std::memcmp(back.Memory(), bytes.data(), bytes.size()), 0);

    try {
        back.LoadFromFile(dir + "absent.wav");
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier " + dir + "absent.wav");
    }
    EXPECT_THROW(back.LoadFromFile(dir), EFOpenError); // a folder
    EXPECT_EQ(back.Size(), bytes.size());              // unchanged by the failures
    try {
        s.SaveToFile(dir + "nowhere/son.wav");
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Impossible de créer le fichier " + dir + "nowhere/son.wav");
    }
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_THROW(s.SaveToFile("/dev/full"), EWriteError);
    }
    // An empty file loads as an empty stream.
    std::ofstream(dir + "vide.wav").close();
    back.LoadFromFile(dir + "vide.wav");
    EXPECT_EQ(back.Size(), 0u);
}

TEST(BytesView, ReadsAndRefusesWrites)
{
    const char bytes[] = "abc";
    TBytesView view(bytes, 3);
    EXPECT_EQ(view.Write("x", 1), 0u);
    EXPECT_THROW(view.SetSize(1), EStreamError);
    char out[4] = {};
    EXPECT_EQ(view.Seek(1, SeekOrigin::Current), 1);
    EXPECT_EQ(view.Read(out, 10), 2u);
    EXPECT_EQ(std::string(out), "bc");
    EXPECT_EQ(view.Seek(100, SeekOrigin::Beginning), 100);
    EXPECT_EQ(view.Read(out, 1), 0u);
}

} // namespace
