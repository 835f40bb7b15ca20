#include "tools/xcopy_params.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xcopy::ParamsStatus;
using xcopy::ParseXcopyParameters;
using xcopy::XcopyRequest;

struct AcceptedCase {
    const char* parameters;
    const char* source;
    const char* destination;
    const char* switches;  // letters of the switches that are set, in the order e i v y
};

class AcceptedParameters : public testing::TestWithParam<AcceptedCase> {};

std::string SetSwitches(const XcopyRequest& request) {
    std::string letters;
    if (request.subfolders)
        letters += 'e';
    if (request.createFolder)
        letters += 'i';
    if (request.verify)
        letters += 'v';
    if (request.overwrite)
        letters += 'y';
    return letters;
}

TEST_P(AcceptedParameters, GivesPathsInHostFormAndSwitches) {
    const AcceptedCase& c = GetParam();
    XcopyRequest request;
    ASSERT_EQ(ParseXcopyParameters(std::string_view(c.parameters), request), ParamsStatus::Ok);
    EXPECT_EQ(request.source, c.source);
    EXPECT_EQ(request.destination, c.destination);
    EXPECT_EQ(SetSwitches(request), c.switches);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedParameters,
    testing::Values(
        // The two tails the tool builds.
        AcceptedCase{R"(/c XCOPY "C:\Suite\Common\CommonConfig.xml" "C:\ProgramData\Lumvar\" /i /v /y)",
                     "C:/Suite/Common/CommonConfig.xml", "C:/ProgramData/Lumvar/", "ivy"},
        AcceptedCase{R"(/c XCOPY "/srv/suite/Data" "/var/lumvar\Lumvar\Data\" /e /i /v /y)",
                     "/srv/suite/Data", "/var/lumvar/Lumvar/Data/", "eivy"},
        // Letter case and blanks as cmd tolerates them.
        AcceptedCase{R"(/C xcopy "a" "b\" /E /I /V /Y)", "a", "b/", "eivy"},
        AcceptedCase{"/c XcOpY \"a\" \"b\" /y", "a", "b", "y"},
        AcceptedCase{"  /c \t XCOPY\t\"a b\"   \"c  d\\\"  /i \t/v /y  \t", "a b", "c  d/", "ivy"},
        // Switches are optional, may repeat and come in any order.
        AcceptedCase{R"(/c XCOPY "a" "b\")", "a", "b/", ""},
        AcceptedCase{R"(/c XCOPY "a" "b\" /y /i /y /e)", "a", "b/", "eiy"},
        // Inside the quotes nothing is special: no expansion, no command separators.
        AcceptedCase{R"(/c XCOPY "a&b|c%PATH%^!d$(id)`x`<>" "e;f\" /y)", "a&b|c%PATH%^!d$(id)`x`<>", "e;f/",
                     "y"},
        // Doubled backslashes are harmless doubled separators; non-ASCII letters pass unchanged.
        AcceptedCase{R"(/c XCOPY "\\server\\share\\x" "d\\" /i)", "//server//share//x", "d//", "i"},
        AcceptedCase{"/c XCOPY \"C:\\Donn\xC3\xA9"
                     "es\\\xE6\x97\xA5\xE6\x9C\xAC\" \"\xC3\x9C\\\" /v",
                     "C:/Donn\xC3\xA9"
                     "es/\xE6\x97\xA5\xE6\x9C\xAC",
                     "\xC3\x9C/", "v"}));

struct RejectedCase {
    const char* parameters;
    ParamsStatus status;
};

class RejectedParameters : public testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedParameters, NamesTheProblemAndLeavesTheRequestAlone) {
    const RejectedCase& c = GetParam();
    XcopyRequest request;
    request.source = "kept";
    request.verify = true;
    EXPECT_EQ(ParseXcopyParameters(std::string_view(c.parameters), request), c.status) << c.parameters;
    EXPECT_EQ(request.source, "kept");
    EXPECT_EQ(request.destination, "");
    EXPECT_EQ(SetSwitches(request), "v");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RejectedParameters,
    testing::Values(RejectedCase{"", ParamsStatus::MissingCommandSwitch},
                    RejectedCase{"   ", ParamsStatus::MissingCommandSwitch},
                    RejectedCase{R"(XCOPY "a" "b\" /y)", ParamsStatus::MissingCommandSwitch},
                    RejectedCase{R"(/k XCOPY "a" "b\" /y)", ParamsStatus::MissingCommandSwitch},
                    RejectedCase{R"(/cXCOPY "a" "b\" /y)", ParamsStatus::MissingCommandSwitch},
                    RejectedCase{"/c", ParamsStatus::NotXcopy},
                    RejectedCase{R"(/c COPY "a" "b\" /y)", ParamsStatus::NotXcopy},
                    RejectedCase{R"(/c XCOPYX "a" "b\" /y)", ParamsStatus::NotXcopy},
                    RejectedCase{R"(/c XCOPY.EXE "a" "b\" /y)", ParamsStatus::NotXcopy},
                    RejectedCase{R"(/c XCOPY"a" "b\" /y)", ParamsStatus::NotXcopy},
                    RejectedCase{R"(/c XCOPY a "b\" /y)", ParamsStatus::BadSource},
                    RejectedCase{R"(/c XCOPY "abc)", ParamsStatus::BadSource},
                    RejectedCase{"/c XCOPY", ParamsStatus::BadSource},
                    RejectedCase{R"(/c XCOPY "" "b\" /y)", ParamsStatus::EmptySource},
                    RejectedCase{R"(/c XCOPY "a")", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a"   )", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a""b\" /y)", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a" b\ /y)", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a" "b\ /y)", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a "b" "c\")", ParamsStatus::BadDestination},
                    RejectedCase{R"(/c XCOPY "a" "" /y)", ParamsStatus::EmptyDestination},
                    RejectedCase{R"(/c XCOPY "a" "b\" /s)", ParamsStatus::UnknownSwitch},
                    RejectedCase{R"(/c XCOPY "a" "b\" /i /-y)", ParamsStatus::UnknownSwitch},
                    RejectedCase{R"(/c XCOPY "a" "b\" /iv)", ParamsStatus::UnknownSwitch},
                    RejectedCase{R"(/c XCOPY "a" "b\" /i/v)", ParamsStatus::UnknownSwitch},
                    RejectedCase{R"(/c XCOPY "a" "b\" /)", ParamsStatus::UnknownSwitch},
                    RejectedCase{R"(/c XCOPY "a" "b\" /y & del x)", ParamsStatus::ExtraText},
                    RejectedCase{R"(/c XCOPY "a" "b\"/i)", ParamsStatus::ExtraText},
                    RejectedCase{R"(/c XCOPY "a" "b\" "c\" /i)", ParamsStatus::ExtraText},
                    RejectedCase{R"(/c XCOPY "a" "b\" /i extra)", ParamsStatus::ExtraText},
                    RejectedCase{R"(/c XCOPY "a" "b\" /y")", ParamsStatus::UnknownSwitch}));

TEST(XcopyParametersUtf16, ReadsTheSameAsTheUtf8Form) {
    const std::u16string wide = u"/c XCOPY \"C:\\Donn\u00e9es\\\u65e5\u672c\" \"D:\\\u00dc \\\" /e /i /v /y";
    XcopyRequest request;
    ASSERT_EQ(ParseXcopyParameters(std::u16string_view(wide), request), ParamsStatus::Ok);
    EXPECT_EQ(request.source,
              "C:/Donn\xC3\xA9"
              "es/\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(request.destination, "D:/\xC3\x9C /");
    EXPECT_EQ(SetSwitches(request), "eivy");

    XcopyRequest refused;
    EXPECT_EQ(ParseXcopyParameters(std::u16string_view(u"/c XCOPY \"a\" \"b\\\" /z"), refused),
              ParamsStatus::UnknownSwitch);
}

}  // namespace
