#include "app/informationoptions.h"

#include "engine/buildconfig.h"

#include <QCommandLineParser>

namespace corvanta {

namespace {

constexpr auto kUsage = "Usage: corvanta [--help | --version] [QT-OPTION]... [PATH...]\n"
                        "Opens Corvanta's main window, which joins XML files into one, with the files and the\n"
                        "XML files of the folders given as PATHs in its list.\n"
                        "\n"
                        "  --help     show this text\n"
                        "  --version  show the version\n"
                        "\n"
                        "Qt's own options, such as -platform NAME or -style NAME, are passed on to Qt.\n"
                        "corvanta-join joins files from the command line.\n";

void write(std::FILE* stream, const char* text) {
    std::fputs(text, stream);
    std::fflush(stream);
}

} // namespace

std::optional<int> answerInformationOptions(const QStringList& arguments, std::FILE* out) {
    QCommandLineParser parser;
    // Long options only: Qt's single-dash options must not read as clusters of letters ("-reverse" holds a "v").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption(QStringLiteral("help"));
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({helpOption, versionOption});
    // Qt's options and their values are unknown here; the parse goes on past them and still finds ours.
    parser.parse(arguments);
    if (parser.isSet(helpOption)) {
        write(out, kUsage);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        write(out, "corvanta " CORVANTA_VERSION "\n");
        return 0;
    }
    return std::nullopt;
}

} // namespace corvanta
