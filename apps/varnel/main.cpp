// varnel: the desktop application. Its one option, --port, sets the UDP port the
// controllers listen on (8442); --help and --version answer without opening a window. The
// settings follow the desktop's usual places.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

#include "data/uNumText.h"
#include "ui/fMain.h"
#include "ui/uArtwork.h"
#include "ui/uCommon.h"
#include "ui/uSignalPipe.h"
#include "workflows/uTemplateFile.h"

namespace {

void SetIdentity() {
  QCoreApplication::setApplicationName(kApplicationTitle);
  QCoreApplication::setApplicationVersion(GetFileVersionText(4));
}

void AddOptions(QCommandLineParser& parser, const QCommandLineOption& portOption) {
  parser.setApplicationDescription(
      "Tarvo controllers on the network: scan, status, values, clocks");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(portOption);
}

// Asked for help or the version, the program answers without a window system, so that
// the answer comes over ssh and while the manual pages are made.
bool AsksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"-h", "--help", "-?", "-v", "--version"}) {
      if (std::strcmp(argv[i], option) == 0) return true;
    }
  }
  return false;
}

// The port given, 8442 without one; false with a message for one that does not read.
bool ControllerPort(const QCommandLineParser& parser, const QCommandLineOption& option, int& port,
                    QString& error) {
  port = kDefaultTarvoPort;
  if (!parser.isSet(option)) return true;
  int32_t value = 0;
  const QString text = parser.value(option);
  if (!ParseIntegerText(FromQ(text), value) || value < 1 || value > 65535) {
    error = QString("--port: \"%1\" is no UDP port (1 to 65535)").arg(text);
    return false;
  }
  port = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const QCommandLineOption portOption("port", "UDP port of the controllers (8442).", "P");
  if (AsksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    SetIdentity();
    QCommandLineParser parser;
    AddOptions(parser, portOption);
    // A parse that fails, or takes "--help" as the value of --port, goes on below, where
    // the window's own parse words it as usual.
    if (parser.parse(QCoreApplication::arguments())) {
      if (parser.isSet("help")) parser.showHelp(0);
      if (parser.isSet("version")) parser.showVersion();
    }
  }

  TApplication app(argc, argv);
  // Taken over at once: a signal during start-up waits in the pipe until the window can
  // close as it should, with its settings stored.
  TSignalPipe signals_;
  SetIdentity();
  QGuiApplication::setDesktopFileName("varnel");
  QApplication::setWindowIcon(ApplicationIcon());

  QCommandLineParser parser;
  AddOptions(parser, portOption);
  if (!parser.parse(QApplication::arguments())) {
    std::fprintf(stderr, "varnel: %s\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet("help")) parser.showHelp(0);
  if (parser.isSet("version")) parser.showVersion();
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "varnel: unexpected argument \"%s\"\n",
                 qPrintable(parser.positionalArguments().front()));
    return 2;
  }
  int port = kDefaultTarvoPort;
  QString error;
  if (!ControllerPort(parser, portOption, port, error)) {
    std::fprintf(stderr, "varnel: %s\n", qPrintable(error));
    return 2;
  }

  const QString templateFile =
      QString::fromStdString(TemplateFileName(FromQ(QApplication::applicationFilePath())));
  TfmMain fmMain(templateFile);
  fmMain.SetControllerPort(port);
  fmMain.CreateDialogs();
  QObject::connect(&signals_, &TSignalPipe::Signalled, &fmMain,
                   [&fmMain] { Guarded([&] { fmMain.RequestClose(); }); });
  fmMain.show();
  return QApplication::exec();
}
