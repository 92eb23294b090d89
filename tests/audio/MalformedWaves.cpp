#include "audio/MalformedWaves.h"

namespace {

Bytes cut(const Bytes& bytes, std::size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
}

} // namespace

std::vector<MalformedWave> MalformedWaves()
{
    const TWaveFormatEx mono16 = PcmFormat(1, 22050, 16);
    const TWaveFormatEx stereo16 = PcmFormat(2, 44100, 16);
    const Bytes samples = Staircase16(100, 1); // 200 bytes
    const Bytes canonical = CanonicalWave(mono16, samples);
    std::vector<MalformedWave> rows;

    rows.push_back({"Canonical44ByteHeader", canonical, true, 200, 44});
    rows.push_back({"Empty", {}, false});
    {
        Bytes text;
        AppendText(text, "Ceci n'est pas un fichier son.\nBonjour la classe !\n");
        rows.push_back({"TextFile", text, false});
    }
    rows.push_back({"CutAt10", cut(canonical, 10), false});
    rows.push_back({"CutAt30", cut(canonical, 30), false});
    rows.push_back({"CutAt43", cut(canonical, 43), false});
    rows.push_back({"CutAfterDataHeader", cut(canonical, 44), true, 0, 44});
    rows.push_back({"CutInsideData", cut(canonical, 144), true, 100, 44});
    rows.push_back(
        {"RiffSizeLargerThanFile", RiffBuilder().fmt(mono16).data(samples).build(100000), true, 200, 44});
    // The "data" header lies inside the RIFF chunk even though its samples run past the declared end.
    rows.push_back({"RiffSizeSmallerThanFile", RiffBuilder().fmt(mono16).data(samples).build(4 + 24 + 8),
                    true, 200, 44});
    rows.push_back({"RiffSizeTooSmallForData", RiffBuilder().fmt(mono16).data(samples).build(4 + 24), false});
    rows.push_back({"RiffSizeZero", RiffBuilder().fmt(mono16).data(samples).build(0), false});
    rows.push_back(
        {"DataSizeLargerThanFile", RiffBuilder().fmt(mono16).data(samples, 5000).build(), true, 200, 44});
    rows.push_back(
        {"DataSizeMaximum", RiffBuilder().fmt(mono16).data(samples, 0xFFFFFFFF).build(), true, 200, 44});
    rows.push_back({"FmtAfterData", RiffBuilder().data(samples).fmt(mono16).build(), false});
    rows.push_back({"NoData", RiffBuilder().fmt(mono16).build(), false});
    rows.push_back({"NoFmt", RiffBuilder().data(samples).build(), false});
    rows.push_back({"NotWaveForm", RiffBuilder("AVI ").fmt(mono16).data(samples).build(), false});
    rows.push_back({"Fmt12Bytes", RiffBuilder().fmt(mono16, 12).data(samples).build(), false});
    rows.push_back({"Fmt14Bytes", RiffBuilder().fmt(mono16, 14).data(samples).build(), true, 200, 42});
    rows.push_back({"Fmt16Bytes", RiffBuilder().fmt(mono16, 16).data(samples).build(), true, 200, 44});
    rows.push_back({"Fmt18Bytes", RiffBuilder().fmt(mono16, 18).data(samples).build(), true, 200, 46});
    {
        TWaveFormatEx ext = stereo16;
        ext.wFormatTag = 0xFFFE;
        ext.cbSize = 22;
        rows.push_back({"Fmt40BytesExtensible", RiffBuilder().fmt(ext, 40).data(Staircase16(50, 2)).build(),
                        true, 200, 68, 0xFFFE});
    }
    {
        TWaveFormatEx f = mono16;
        f.cbSize = 4;
        rows.push_back({"ExtraCountLargerThanChunk", RiffBuilder().fmt(f, 18).data(samples).build(), false});
        f.cbSize = 0xFFFF;
        rows.push_back({"ExtraCountMaximum", RiffBuilder().fmt(f, 18).data(samples).build(), false});
        f.cbSize = 2;
        rows.push_back(
            {"ExtraCountFillsChunk", RiffBuilder().fmt(f, 20).data(samples).build(), true, 200, 48});
    }
    {
        Bytes list;
        AppendText(list, "INFOICMT");
        AppendLE32(list, 5);
        AppendText(list, "salut");
        // 17-byte body: the pad byte follows, and the data offset must count it.
        rows.push_back({"OddListBeforeData",
                        RiffBuilder().fmt(mono16).chunk("LIST", list).data(samples).build(), true, 200,
                        36 + 8 + 18 + 8});
        rows.push_back({"OddListWithoutPad",
                        RiffBuilder().fmt(mono16).chunk("LIST", list, -1, false).data(samples).build(),
                        false});
    }
    {
        TWaveFormatEx f = mono16;
        f.wFormatTag = 3;
        f.wBitsPerSample = 32;
        rows.push_back({"FloatTag3", RiffBuilder().fmt(f, 18).data(samples).build(), true, 200, 46, 3});
    }
    {
        TWaveFormatEx f = mono16;
        f.nChannels = 0;
        rows.push_back({"ZeroChannels", RiffBuilder().fmt(f).data(samples).build(), false});
        f = mono16;
        f.nSamplesPerSec = 0;
        rows.push_back({"ZeroRate", RiffBuilder().fmt(f).data(samples).build(), false});
        f = mono16;
        f.nBlockAlign = 0;
        rows.push_back({"ZeroBlockAlign", RiffBuilder().fmt(f).data(samples).build(), false});
        f = mono16;
        f.nAvgBytesPerSec = 0;
        rows.push_back({"ZeroByteRate", RiffBuilder().fmt(f).data(samples).build(), true, 200, 44});
    }
    rows.push_back({"EmptyData", RiffBuilder().fmt(mono16).data({}).build(), true, 0, 44});
    rows.push_back({"HugeChunkBeforeData",
                    RiffBuilder().fmt(mono16).chunk("junk", Bytes(8, 1), 0xFFFFFFF0).data(samples).build(),
                    false});
    rows.push_back({"HugeFmtChunk", RiffBuilder().fmt(mono16).build(), false});
    rows.back().bytes[16] = 0xFF;
    rows.back().bytes[17] = 0xFF;
    rows.back().bytes[18] = 0xFF;
    rows.back().bytes[19] = 0xFF;
    rows.push_back(
        {"MaximumRiffSize", RiffBuilder().fmt(mono16).data(samples).build(0xFFFFFFFF), true, 200, 44});
    rows.push_back({"OddDataWithPad", RiffBuilder().fmt(PcmFormat(1, 8000, 8)).data(Staircase8(5, 1)).build(),
                    true, 5, 44});
    return rows;
}
