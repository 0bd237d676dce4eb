// Control ids of the configuration dialog; shared by the code and the template.
#pragma once

#define IDC_SETTINGS_KEEP16 111
#define IDC_SETTINGS_KEEP32 112
#define IDC_SETTINGS_MMX 113
#define IDC_SETTINGS_DONE 101
