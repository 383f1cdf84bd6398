#include "ComfortFeatures.h"

#include "CReconnectFeature.h"
#include "CRefreshFeature.h"
#include "CRemoteDlg.h"
#include "CStatsFeature.h"

#include <memory>

void AddComfortFeatures(CRemoteDlg &panel)
{
    panel.AddFeature(std::make_unique<CReconnectFeature>(panel));
    panel.AddFeature(std::make_unique<CRefreshFeature>(panel));
    panel.AddFeature(std::make_unique<CStatsFeature>(panel));
}
