// Clock: the time and the date, ticking every second, with a "Sync now"
// button that asks the client to synchronise with the server at once. It
// also shows whether the client goes through a proxy.

#include "../common/qtmodulewindow.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <set>

namespace {

class ClockWindow : public vexor_example::ModuleWidget {
public:
    explicit ClockWindow(const VexorHost* host, bool autoConnect) : ModuleWidget(host)
    {
        setObjectName(QStringLiteral("ClockWindow"));
        setWindowTitle(QStringLiteral("Clock"));

        m_time = new QLabel(this);
        m_time->setObjectName(QStringLiteral("ClockTime"));
        QFont big = m_time->font();
        big.setPointSize(big.pointSize() * 2);
        m_time->setFont(big);
        m_time->setAlignment(Qt::AlignCenter);
        m_date = new QLabel(this);
        m_date->setObjectName(QStringLiteral("ClockDate"));
        m_date->setAlignment(Qt::AlignCenter);
        m_proxy = new QLabel(this);
        m_proxy->setObjectName(QStringLiteral("ClockProxy"));
        auto* sync = new QPushButton(QStringLiteral("Sync now"), this);
        sync->setObjectName(QStringLiteral("ClockSyncButton"));
        sync->setToolTip(autoConnect ? QStringLiteral("The client also synchronises at start")
                                     : QStringLiteral("The client synchronises only when asked"));

        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_time);
        layout->addWidget(m_date);
        layout->addWidget(m_proxy);
        layout->addWidget(sync);

        connect(sync, &QPushButton::clicked, this, [this] { requestConnect(); });
        connect(&m_tick, &QTimer::timeout, this, [this] { showNow(); });
        m_tick.start(1000);
        showNow();
        setProxy(QString(), 0);
        openWindows().insert(this);
    }

    ~ClockWindow() override { openWindows().erase(this); }

    void setProxy(const QString& host, int port)
    {
        m_proxy->setText(host.isEmpty() ? QStringLiteral("Direct connection")
                                        : QStringLiteral("Proxy %1:%2").arg(host).arg(port));
    }

    static std::set<ClockWindow*>& openWindows()
    {
        static std::set<ClockWindow*> windows;
        return windows;
    }

private:
    void showNow()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QLocale locale;
        m_time->setText(locale.toString(now.time(), QStringLiteral("HH:mm:ss")));
        m_date->setText(locale.toString(now.date(), QLocale::LongFormat));
    }

    QLabel* m_time = nullptr;
    QLabel* m_date = nullptr;
    QLabel* m_proxy = nullptr;
    QTimer m_tick;
};

}  // namespace

extern "C" {

VexorModuleWindow* DajOkno(const VexorHost* host, const char* /*appDir*/, const ShortString255* /*clientId*/,
                           const ShortString255* /*userId*/, uint8_t autoConnect)
{
    if (!vexor_example::ModuleWidget::hostUsable(host))
        return nullptr;
    auto* window = new ClockWindow(host, autoConnect != 0);
    return window->release();
}

void SetProxyParameters(const ShortString255* proxyName, const ShortString255* /*proxyUser*/,
                        const ShortString255* /*proxyPass*/, int32_t proxyPort)
{
    const QString host = vexor_example::fromShortString(proxyName);
    for (ClockWindow* window : ClockWindow::openWindows())
        window->setProxy(host, proxyPort);
}

void ZavriOkno(void) {}

}  // extern "C"
