#include "platform/io/Riff.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string bytesOf(const TMemoryStream& s)
{
    return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

std::string le32(std::uint32_t v)
{
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

// A stream whose every operation fails the way a broken file would.
class FailingStream : public TMemoryStream
{
public:
    std::size_t Read(void*, std::size_t) override { throw EStreamError("lecture"); }
    std::size_t Write(const void*, std::size_t) override { throw EStreamError("écriture"); }
};

TEST(Riff, StringToFourCCPadsWithSpaces)
{
    EXPECT_EQ(StringToFourCC("fmt"), StringToFourCC("fmt "));
    EXPECT_EQ(StringToFourCC("data"), MakeFourCC('d', 'a', 't', 'a'));
    EXPECT_EQ(StringToFourCC("datalong"), MakeFourCC('d', 'a', 't', 'a'));
    EXPECT_EQ(StringToFourCC(""), MakeFourCC(' ', ' ', ' ', ' '));
    EXPECT_EQ(MakeFourCC('R', 'I', 'F', 'F'), 0x46464952u);
}

TEST(Riff, CreatedChunksGetTheirSizesAndPadBytes)
{
    TMemoryStream s;
    RiffIO io(s);
    RiffChunkInfo riff;
    riff.fccType = StringToFourCC("TEST");
    ASSERT_EQ(io.CreateChunk(riff, RiffCreateRiff), RiffResult::Ok);
    RiffChunkInfo list;
    list.fccType = StringToFourCC("INFO");
    ASSERT_EQ(io.CreateChunk(list, RiffCreateList), RiffResult::Ok);
    RiffChunkInfo odd;
    odd.ckid = StringToFourCC("abc");
    ASSERT_EQ(io.CreateChunk(odd, 0), RiffResult::Ok);
    ASSERT_EQ(io.Write("xyz", 3), 3);
    ASSERT_EQ(io.Ascend(odd), RiffResult::Ok);
    ASSERT_EQ(io.Ascend(list), RiffResult::Ok);
    ASSERT_EQ(io.Ascend(riff), RiffResult::Ok);
    const std::string expected = "RIFF" + le32(4 + 12 + 8 + 4) + "TEST" + "LIST" + le32(4 + 8 + 4) + "INFO" +
                                 "abc " + le32(3) + "xyz" + std::string(1, '\0');
    EXPECT_EQ(bytesOf(s), expected);
    EXPECT_EQ(odd.cksize, 3u);
    EXPECT_EQ(riff.dataOffset, 8u);
    EXPECT_EQ(io.Offset(), s.Size());
}

TEST(Riff, DescendFindsChunksInsideTheirParentOnly)
{
    // RIFF(WAVE){ "one " 5 bytes + pad, "two " 2 bytes } then, outside the RIFF chunk, "out " 0 bytes.
    const std::string image = "RIFF" + le32(4 + 14 + 10) + "WAVE" + "one " + le32(5) + "12345" +
                              std::string(1, '\0') + "two " + le32(2) + "ab" + "out " + le32(0);
    TBytesView view(image.data(), image.size());
    RiffIO io(view);
    RiffChunkInfo riff;
    riff.fccType = StringToFourCC("WAVE");
    ASSERT_EQ(io.Descend(riff, nullptr, RiffFindRiff), RiffResult::Ok);
    EXPECT_EQ(io.Offset(), 12u);
    RiffChunkInfo two;
    two.ckid = StringToFourCC("two");
    ASSERT_EQ(io.Descend(two, &riff, RiffFindChunk), RiffResult::Ok);
    EXPECT_EQ(two.dataOffset, 12u + 14 + 8);
    EXPECT_EQ(two.cksize, 2u);
    char body[2];
    EXPECT_EQ(io.Read(body, 2), 2);
    EXPECT_EQ(std::string(body, 2), "ab");
    ASSERT_EQ(io.Ascend(two), RiffResult::Ok);
    RiffChunkInfo out;
    out.ckid = StringToFourCC("out");
    EXPECT_EQ(io.Descend(out, &riff, RiffFindChunk), RiffResult::ChunkNotFound);
    // Without a parent the search runs to the end of the stream.
    io.Seek(12, SeekOrigin::Beginning);
    EXPECT_EQ(io.Descend(out, nullptr, RiffFindChunk), RiffResult::Ok);
    // Plain descend takes whatever chunk is there.
    io.Seek(12, SeekOrigin::Beginning);
    RiffChunkInfo any;
    ASSERT_EQ(io.Descend(any, &riff, 0), RiffResult::Ok);
    EXPECT_EQ(any.ckid, StringToFourCC("one"));
    // A RIFF chunk of another form type is not the one searched for.
    io.Seek(0, SeekOrigin::Beginning);
    RiffChunkInfo avi;
    avi.fccType = StringToFourCC("AVI ");
    EXPECT_EQ(io.Descend(avi, nullptr, RiffFindRiff), RiffResult::ChunkNotFound);
}

TEST(Riff, HugeSizesEndTheSearchWithoutOverflow)
{
    const std::string image =
        "RIFF" + le32(0xFFFFFFFF) + "WAVE" + "junk" + le32(0xFFFFFFFF) + "data" + le32(0);
    TBytesView view(image.data(), image.size());
    RiffIO io(view);
    RiffChunkInfo riff;
    riff.fccType = StringToFourCC("WAVE");
    ASSERT_EQ(io.Descend(riff, nullptr, RiffFindRiff), RiffResult::Ok);
    RiffChunkInfo data;
    data.ckid = StringToFourCC("data");
    EXPECT_EQ(io.Descend(data, &riff, RiffFindChunk), RiffResult::ChunkNotFound);
}

TEST(Riff, KeepsItsOwnOffsetWhenTheStreamMoves)
{
    TMemoryStream s;
    s.Write("0123456789", 10);
    RiffIO io(s);
    EXPECT_EQ(io.Seek(4, SeekOrigin::Beginning), 4);
    s.Seek(0, SeekOrigin::End); // someone else moves the stream
    char c = 0;
    EXPECT_EQ(io.Read(&c, 1), 1);
    EXPECT_EQ(c, '4');
    s.Seek(0, SeekOrigin::Beginning);
    EXPECT_EQ(io.Seek(2, SeekOrigin::Current), 7); // from the handle's offset, not the stream's
    EXPECT_EQ(io.Seek(-1, SeekOrigin::End), 9);
    EXPECT_EQ(io.Seek(-20, SeekOrigin::Current), -1);
}

TEST(Riff, StreamFailuresAnswerMinusOne)
{
    FailingStream s;
    RiffIO io(s);
    char c = 0;
    EXPECT_EQ(io.Read(&c, 1), -1);
    EXPECT_EQ(io.Write(&c, 1), -1);
    RiffChunkInfo chunk;
    chunk.ckid = StringToFourCC("data");
    EXPECT_EQ(io.CreateChunk(chunk, 0), RiffResult::CannotWrite);
    EXPECT_NE(io.Descend(chunk, nullptr, RiffFindChunk), RiffResult::Ok);
}

} // namespace
