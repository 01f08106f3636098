#ifndef SAVELINK_SAVE_LINK_H
#define SAVELINK_SAVE_LINK_H

// One whole run of savelink: makes both save-folder trees under the roaming
// application-data folder and turns the "Saves" folder of the shorter
// product name into a link to the one of the longer name. Reports, waits for
// a key, and returns the exit status: 0 when both names lead to one folder,
// 1 otherwise.
int RunSaveLink(void);

#endif  // SAVELINK_SAVE_LINK_H
