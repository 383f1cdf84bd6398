// The session comforts a panel is given: automatic reconnect, the refresh pace and the link
// statistics, in that order after the panel's own menu items.
#pragma once

class CRemoteDlg;

void AddComfortFeatures(CRemoteDlg &panel);
