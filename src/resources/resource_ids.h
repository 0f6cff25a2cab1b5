// Resource ids shared by setup.rc and the program.
#pragma once

#define IDI_SETUP 128
#define IDS_FIRST 6002
#define IDS_LAST 6052
