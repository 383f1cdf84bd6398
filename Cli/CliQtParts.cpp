#include "CliQtParts.h"

#include "CSimInstrument.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QString>

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
    QImage image;
    if (!image.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPEG")) {
        error = "the screen reply is not a JPEG image";
        return false;
    }
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::unique_ptr<CCliUsbSim> MakeCliUsbSim(const std::string &model, std::string &)
{
    return std::make_unique<CQtUsbSim>(model);
}
