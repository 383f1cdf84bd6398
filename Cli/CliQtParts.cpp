#include "CliQtParts.h"

#include "CImage.h"
#include "CSimInstrument.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <climits>
#include <cstdlib>
#include <iostream>

namespace {

// Standard output carries results only; Qt's chatter is not for scripts.
void QuietQtMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << message.toStdString() << std::endl;
}

class CQtUsbSim : public CCliUsbSim
{
public:
    explicit CQtUsbSim(const std::string &model)
    {
        m_sim.SetLogSink({});
        if (!model.empty())
            m_sim.SetModel(model);
    }
    UsbDeviceFactory Factory() override { return m_sim.UsbFactory(); }

private:
    CSimInstrument m_sim;
};

} // namespace

std::shared_ptr<void> StartCliQt(int &argc, char **argv, const std::vector<std::string> &args)
{
    qInstallMessageHandler(QuietQtMessages);
    for (const std::string &arg : args) {
        if (arg.starts_with("--usb-sim")) {
            if (!std::getenv("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            return std::make_shared<QGuiApplication>(argc, argv);
        }
    }
    return nullptr;
}

bool SaveJpegAsPng(const std::vector<std::uint8_t> &jpeg, const std::string &path,
                   std::string &error)
{
    // The window's own checked decode: a picture it would refuse is no screenshot either.
    CImage image;
    if (jpeg.size() > std::size_t(INT_MAX)) {
        error = "the screen reply is too large";
        return false;
    }
    if (image.LoadFromData(jpeg.data(), int(jpeg.size())) != 0) {
        error = "the screen reply is " + image.LoadError().toStdString();
        return false;
    }
    if (!image.Image().save(QString::fromStdString(path), "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::unique_ptr<CCliUsbSim> MakeCliUsbSim(const std::string &model, std::string &)
{
    return std::make_unique<CQtUsbSim>(model);
}
