// Resource identifiers shared by vimbrel.rc and the Win32 layer.
#pragma once

#define IDI_VIMBREL 1
// The eleven finger pointers, in the order of vimbrel::Finger.
#define IDI_FINGER_FIRST 101
