// Resource ids of the native wizard's pictures (ui/win32/pictures.rc.in).
#pragma once

#define IDI_TAVRIN_WINDOW 100
#define IDI_TAVRIN_INFORMATION 101
#define IDI_TAVRIN_FOLDER 102
#define IDI_TAVRIN_PERSON 103
