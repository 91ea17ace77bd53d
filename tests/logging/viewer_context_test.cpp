// Viewer contexts: the exact bytes each kind produces, the escaping rules, loading from
// streams and files, and the argument errors.
#include "logging/packets/viewer_context.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/errors.h"
#include "logging/base/si_format.h"
#include "logging/packets/packet.h"

namespace deruz::logging {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

std::string Bytes(const TSiMemoryStream& AStream) {
    const auto LBytes = AStream.Bytes();
    return std::string(reinterpret_cast<const char*>(LBytes.data()), LBytes.size());
}

TSiMemoryStream StreamOf(std::string_view ABytes) {
    TSiMemoryStream LStream;
    LStream.WriteBuffer(ABytes.data(), ABytes.size());
    return LStream;
}

// Raises the expected ESiError message, or records a failure.
void ExpectError(const std::function<void()>& AAction, const std::string& AMessage) {
    try {
        AAction();
        ADD_FAILURE() << "no error, expected: " << AMessage;
    } catch (const ESiError& LAError) {
        EXPECT_EQ(std::string(LAError.what()), AMessage);
    }
}

// A file in the system's temporary folder, removed afterwards.
class TempFile {
  public:
    explicit TempFile(std::string_view ABytes) {
        static int LCounter = 0;
        FPath = fs::temp_directory_path() /
                ("silog_ctx_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                 std::to_string(++LCounter));
        std::ofstream LOut(FPath, std::ios::binary);
        LOut.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    }
    ~TempFile() {
        std::error_code LIgnored;
        fs::remove(FPath, LIgnored);
    }
    std::string Name() const {
        const std::u8string LText = FPath.u8string();
        return std::string(LText.begin(), LText.end());
    }

  private:
    fs::path FPath;
};

// A stream that claims more bytes than it delivers, so that loading from it fails half-way.
class ShortStream : public TSiStream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t ACount) override { return ACount; }
    std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) override {
        FPosition =
            AOrigin == soBeginning ? AOffset : (AOrigin == soEnd ? 10 : FPosition) + AOffset;
        return FPosition;
    }
    std::int64_t FPosition = 4;
};

struct TextCase {
    const char* Name;
    std::function<std::unique_ptr<TSiTextContext>()> Build;
    TSiViewerId ViewerId;
    std::string Expected;  // after the byte order mark
};

template <typename TContext>
std::function<std::unique_ptr<TSiTextContext>()> Make(std::function<void(TContext&)> AFill) {
    return [AFill] {
        auto LContext = std::make_unique<TContext>();
        AFill(*LContext);
        return LContext;
    };
}

TEST(SiViewerContextTest, TextContextsProduceMarkerAndEscapedText) {
    const TextCase LCases[] = {
        {"empty text", [] { return std::make_unique<TSiTextContext>(viData); }, viData, ""},
        {"text is not escaped",
         [] {
             auto LContext = std::make_unique<TSiTextContext>(viHtmlSource);
             LContext->AppendText("a\r\nb=");
             LContext->AppendLine("c\n\nd\\");
             return LContext;
         },
         viHtmlSource, "a\r\nb=c\n\nd\\\r\n"},
        {"list collapses runs of line breaks", Make<TSiListViewerContext>([](auto& AC) {
             AC.AppendLine("a\r\n\r\nb");
             AC.AppendLine("\n");
             AC.AppendLine("x\ny\rz\\=[]");
         }),
         viList, "a b\r\n \r\nx y z\\=[]\r\n"},
        {"list loads text unescaped",
         Make<TSiListViewerContext>([](auto& AC) { AC.LoadFromText("a\nb"); }), viList, "a\nb"},
        {"value list escapes key and value", Make<TSiValueListViewerContext>([](auto& AC) {
             AC.AppendKeyValue("a=b", "x\\y");
             AC.AppendKeyValue("k\r\ney=", std::string("[v]"));
             AC.AppendKeyValue("", "");
         }),
         viValueList, "a\\=b=x\\\\y\r\nk ey\\==[v]\r\n=\r\n"},
        {"value list typed values", Make<TSiValueListViewerContext>([](auto& AC) {
             AC.AppendKeyValue("i", -5);
             AC.AppendKeyValue("u", 4000000000u);
             AC.AppendKeyValue("l", std::int64_t{-9000000000});
             AC.AppendKeyValue("d", 1e20);
             AC.AppendKeyValue("b", true);
             AC.AppendKeyValue("f", false);
         }),
         viValueList, "i=-5\r\nu=4000000000\r\nl=-9000000000\r\nd=1E20\r\nb=True\r\nf=False\r\n"},
        {"inspector groups", Make<TSiInspectorViewerContext>([](auto& AC) {
             AC.StartGroup("FindOptions");
             AC.AppendKeyValue("Regex", true);
             AC.AppendKeyValue("WholeWord", false);
             AC.AppendKeyValue("CaseSensitive", true);
             AC.AppendKeyValue("Title", "Foobar");
             AC.StartGroup("[x]");
             AC.AppendKeyValue("a[1]", "=\\");
         }),
         viInspector,
         "[FindOptions]\r\nRegex=True\r\nWholeWord=False\r\nCaseSensitive=True\r\nTitle=Foobar\r\n"
         "[\\[x\\]]\r\na\\[1\\]=\\=\\\\\r\n"},
        {"table", Make<TSiTableViewerContext>([](auto& AC) {
             AC.AppendHeader("Name, Value\r\nmore");
             AC.BeginRow();
             AC.AddRowEntry("a");
             AC.AddRowEntry("");
             AC.AddRowEntry("\"");
             AC.AddRowEntry("x\r\ny,z");
             AC.EndRow();
             AC.BeginRow();
             AC.AddRowEntry(42);
             AC.AddRowEntry(true);
             AC.EndRow();
         }),
         viTable,
         "Name, Value more\r\n\r\n\"a\", \"\", \"\"\"\", \"x  y,z\"\r\n\"42\", \"True\"\r\n"},
        {"table row without BeginRow continues the line", Make<TSiTableViewerContext>([](auto& AC) {
             AC.AddRowEntry("a");
             AC.EndRow();
             AC.AddRowEntry("b");
         }),
         viTable, "\"a\"\r\n, \"b\""},
        {"invalid UTF-8 is replaced", Make<TSiListViewerContext>([](auto& AC) {
             AC.AppendText(
                 "a\xFF"
                 "b\xE2\x82");
         }),
         viList,
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const TextCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        std::unique_ptr<TSiTextContext> LContext = LCase.Build();
        TSiViewerContext& LBase = *LContext;
        EXPECT_EQ(LBase.ViewerId(), LCase.ViewerId);
        TSiMemoryStream& LData = LBase.GetViewerData();
        EXPECT_EQ(Bytes(LData), kBom + LCase.Expected);
        EXPECT_EQ(LData.GetPosition(), LData.GetSize());
    }
}

TEST(SiViewerContextTest, DateTimeValuesUseTheDateTimeText) {
    const TDateTime LValue = SiEncodeDateTime({2024, 3, 5, 14, 7, 9, 0});
    TSiValueListViewerContext LContext;
    LContext.AppendKeyValue("t", TSiDateTimeValue{LValue});
    TSiTableViewerContext LTable;
    LTable.AddRowEntry(TSiDateTimeValue{LValue});
    const std::string LText = SiDateTimeToStr(LValue, SiThreadFormatSettings());
    EXPECT_EQ(Bytes(LContext.GetViewerData()), kBom + "t=" + LText + "\r\n");
    EXPECT_EQ(Bytes(LTable.GetViewerData()), kBom + "\"" + LText + "\"");
    EXPECT_NE(LText.find("2024"), std::string::npos);
}

TEST(SiViewerContextTest, ViewerDataIsRebuiltOnEveryCall) {
    TSiListViewerContext LContext;
    LContext.AppendLine("one");
    TSiMemoryStream& LFirst = LContext.GetViewerData();
    LFirst.SetPosition(1);
    LContext.AppendLine("two");
    TSiMemoryStream& LSecond = LContext.ViewerData();
    EXPECT_EQ(&LFirst, &LSecond);
    EXPECT_EQ(Bytes(LSecond), kBom + "one\r\ntwo\r\n");
    EXPECT_EQ(LSecond.GetPosition(), LSecond.GetSize());
    LContext.ResetData();
    EXPECT_EQ(Bytes(LContext.GetViewerData()), kBom);
}

TEST(SiViewerContextTest, TextLoadsLinesFromStreamsAndFiles) {
    TSiListViewerContext LContext;
    // UTF-16 little-endian with its marker, last line without a break.
    TSiMemoryStream LUtf16 =
        StreamOf(std::string("\xFF\xFE"
                             "a\0\r\0\n\0\xAC\x20",
                             10));
    LUtf16.SetPosition(3);
    LContext.AppendLine("replaced");
    LContext.LoadFromStream(&LUtf16);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), kBom + "a\r\n\xE2\x82\xAC\r\n");
    EXPECT_EQ(LUtf16.GetPosition(), 3);

    // A UTF-8 marker in the input is not repeated; line breaks are normalised, not escaped.
    TSiMemoryStream LUtf8 = StreamOf(kBom + "x\ny=\r\r\n");
    LContext.LoadFromStream(&LUtf8);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), kBom + "x\r\ny=\r\n\r\n");

    const TempFile LFile("l1\nl2");
    LContext.LoadFromFile(LFile.Name());
    EXPECT_EQ(Bytes(LContext.GetViewerData()), kBom + "l1\r\nl2\r\n");
}

TEST(SiViewerContextTest, BinaryContextAppendsAndLoadsBytes) {
    TSiBinaryViewerContext LContext;
    EXPECT_EQ(LContext.ViewerId(), viBinary);
    const char LBytes[] = {'a', '\0', '\xFF'};
    LContext.AppendBytes(LBytes, 3);
    LContext.AppendBytes(LBytes, 0);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), std::string(LBytes, 3));

    // Loading takes the whole stream, puts it back at its position, and appends continue
    // after the loaded bytes even if the data was read meanwhile.
    TSiMemoryStream LSource = StreamOf("abcdef");
    LSource.SetPosition(3);
    LContext.LoadFromStream(&LSource);
    EXPECT_EQ(LSource.GetPosition(), 3);
    LContext.GetViewerData().SetPosition(0);
    LContext.AppendBytes("g", 1);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), "abcdefg");

    LContext.LoadFromStream(&LContext.GetViewerData());
    EXPECT_EQ(Bytes(LContext.GetViewerData()), "abcdefg");

    const TempFile LFile(std::string("\x01\x00\x02", 3));
    LContext.LoadFromFile(LFile.Name());
    LContext.AppendBytes("z", 1);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), std::string("\x01\x00\x02z", 4));

    LContext.ResetData();
    LContext.AppendBytes("y", 1);
    EXPECT_EQ(Bytes(LContext.GetViewerData()), "y");
}

TEST(SiViewerContextTest, ErrorsLeaveTheContentUnchanged) {
    TSiBinaryViewerContext LBinary;
    LBinary.AppendBytes("keep", 4);
    TSiValueListViewerContext LText;
    LText.AppendKeyValue("k", "v");
    const std::string LMissing = (fs::temp_directory_path() / "silog_ctx_missing_file").string();

    ExpectError([&] { LBinary.AppendBytes(nullptr, 1); }, "AAddress argument is not assigned");
    ExpectError([&] { LBinary.AppendBytes(nullptr, 0); }, "AAddress argument is not assigned");
    ExpectError([&] { LBinary.AppendBytes("x", -1); }, "ASize argument is negative");
    ExpectError([&] { LBinary.LoadFromStream(nullptr); }, "AStream argument is not assigned");
    ExpectError([&] { LText.LoadFromStream(nullptr); }, "AStream argument is not assigned");
    EXPECT_THROW(LBinary.LoadFromFile(LMissing), ESiError);
    EXPECT_THROW(LText.LoadFromFile(LMissing), ESiError);
    try {
        LBinary.LoadFromFile(LMissing);
    } catch (const ESiError& LAError) {
        EXPECT_EQ(std::string(LAError.what()).rfind("Cannot open file \"" + LMissing + "\". ", 0),
                  0u)
            << LAError.what();
    }
    ShortStream LShort;
    EXPECT_THROW(LBinary.LoadFromStream(&LShort), ESiError);
    EXPECT_EQ(LShort.FPosition, 4);
    EXPECT_THROW(LText.LoadFromStream(&LShort), ESiError);
    EXPECT_EQ(LShort.FPosition, 4);

    EXPECT_EQ(Bytes(LBinary.GetViewerData()), "keep");
    EXPECT_EQ(Bytes(LText.GetViewerData()), kBom + "k=v\r\n");
}

TEST(SiViewerContextTest, CopyToLogEntryHandsOverViewerAndData) {
    TSiInspectorViewerContext LContext;
    LContext.StartGroup("g");
    auto LEntry = TSiRef<TSiLogEntry>::Adopt(new TSiLogEntry(ltText, viNone));
    LContext.CopyToLogEntry(*LEntry);
    EXPECT_EQ(LEntry->ViewerId, viInspector);
    ASSERT_NE(LEntry->GetData(), nullptr);
    EXPECT_EQ(Bytes(*LEntry->GetData()), kBom + "[g]\r\n");

    // The context keeps its data and can be sent again.
    TSiBinaryViewerContext LBinary;
    LBinary.AppendBytes("ab", 2);
    LBinary.CopyToLogEntry(*LEntry);
    LBinary.AppendBytes("c", 1);
    EXPECT_EQ(Bytes(*LEntry->GetData()), "ab");
    EXPECT_EQ(Bytes(LBinary.GetViewerData()), "abc");
}

}  // namespace
}  // namespace deruz::logging
