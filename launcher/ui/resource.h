#pragma once

#define IDI_VELMOOR 1
#define IDB_LOGO 101
#define IDB_CHANGES_PICTURE 102
#define IDB_LOGO_LARGE 103
