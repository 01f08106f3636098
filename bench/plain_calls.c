/* The yardstick: a plain C program that makes the calls savelink makes on a
 * run (the tree walks, the checks, the removal, the link, the message), with
 * no C++ and nothing else. savelink should cost no more than this. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void MakeTree(char *path)
{
    size_t i;
    if (mkdir(path, 0777) == 0)
        return;
    for (i = 2; path[i] != 0; ++i) {
        if (path[i] != '/')
            continue;
        path[i] = 0;
        mkdir(path, 0777);
        path[i] = '/';
    }
    mkdir(path, 0777);
}

int main(void)
{
    char link[4096];
    char target[4096];
    struct stat a, b;
    const char *home = getenv("HOME");
    if (home == NULL)
        return 1;
    snprintf(link, sizeof link, "%s/.config/Milestone/Corvandelhurst Rally EV/Saves", home);
    snprintf(target, sizeof target, "%s/.config/Milestone/Corvandelhurst Rally EVO/Saves", home);
    MakeTree(link);
    stat(link, &a);
    stat(target, &b);
    lstat(link, &a);
    rmdir(link);
    MakeTree(target);
    stat(target, &b);
    symlink(target, link);
    lstat(link, &a);
    stat(link, &a);
    stat(target, &b);
    fputs("saves fixed!!!!!!!!!!!!!!!!!!!\n", stdout);
    fflush(stdout);
    fputs("Press any key to continue . . . \n", stdout);
    return 0;
}
