#pragma once

#include "app/bannerview.h"

#include <QWebEngineView>

class QWebEngineProfile;

// The full web engine banner view (build option VEXOR_WEBENGINE), for banners
// that need scripts. It keeps the light view's rules:
//  - requests go only to local files inside the page's folder (and data:);
//    everything else, the network above all, is blocked before it leaves;
//  - a link the user clicks (also one that wants a new window) opens in the
//    user's browser for http, https, ftp and mailto, and never in the pane;
//  - a missing page shows the same plain page as the light view;
//  - no scroll bars, no context menu, an off-the-record profile (nothing
//    written to disk).
// Costs a Chromium renderer and GPU process: hundreds of megabytes.
namespace vexor {

class BannerRequestFilter;

class WebBannerView : public QWebEngineView, public BannerView {
    Q_OBJECT
public:
    explicit WebBannerView(QWidget* parent = nullptr);
    ~WebBannerView() override;

    QWidget* widget() override { return this; }
    void showPage(const QString& path) override;
    QString currentPage() const override { return m_pagePath; }

private:
    QString m_pagePath;
    QWebEngineProfile* m_profile = nullptr;
    BannerRequestFilter* m_filter = nullptr;  // owned by the profile
};

}  // namespace vexor
