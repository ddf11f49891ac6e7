// The window's controls by their child-window IDs, which the resources,
// the window and its tests share. IDOK (1) and IDCANCEL (2) are left
// unused, so that Enter and Esc find no button to press.
#pragma once

#define KORVIK_ICON 1

#define KORVIK_ID_LABEL2 100
#define KORVIK_ID_TXTFILENAME 101
#define KORVIK_ID_CMDOPEN 102
#define KORVIK_ID_CMDHASH 103
#define KORVIK_ID_CMDCHECK 104
#define KORVIK_ID_LABEL1 105
#define KORVIK_ID_TXTHASH 106
#define KORVIK_ID_CMDAPPEND 107
#define KORVIK_ID_CMDEXIT 108
