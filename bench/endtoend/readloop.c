/* The I/O floor of a search, as a plain C loop: walk the folders depth-first the way the scan
 * does (hidden entries and symbolic links are left alone), and for every file whose name ends in
 * ".mp3" in any letter case open it and read its last 128 bytes (the ID3v1 tag), and with --head
 * also its first 4 KiB (where the frame header lies). Prints the number of files and a checksum
 * of the bytes read, so no read can be optimised away. */

#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static int readHead;
static unsigned long long fileCount;
static unsigned long long checksum;

static int isMp3Name(const char* name)
{
    size_t n = strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".mp3") == 0;
}

static void readFile(const char* path)
{
    unsigned char buffer[4096];
    struct stat st;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (fstat(fd, &st) == 0) {
        if (readHead) {
            ssize_t got = pread(fd, buffer, sizeof buffer, 0);
            if (got > 0)
                checksum += buffer[0] + buffer[got - 1];
        }
        if (st.st_size >= 128) {
            ssize_t got = pread(fd, buffer, 128, st.st_size - 128);
            if (got > 0)
                checksum += buffer[0] + buffer[got - 1];
        }
    }
    close(fd);
    ++fileCount;
}

static void walk(const char* folder)
{
    DIR* dir = opendir(folder);
    struct dirent* entry;
    char** subfolders = NULL;
    size_t subfolderCount = 0;
    size_t capacity = 0;
    size_t folderLength = strlen(folder);
    if (!dir)
        return;
    /* The listing is read to its end before any subfolder is opened, one listing open at a time. */
    while ((entry = readdir(dir)) != NULL) {
        unsigned char type = entry->d_type;
        size_t nameLength = strlen(entry->d_name);
        char* path;
        if (entry->d_name[0] == '.')
            continue;
        path = malloc(folderLength + nameLength + 2);
        if (!path)
            abort();
        memcpy(path, folder, folderLength);
        path[folderLength] = '/';
        memcpy(path + folderLength + 1, entry->d_name, nameLength + 1);
        if (type == DT_UNKNOWN) {
            struct stat st;
            type = DT_UNKNOWN;
            if (lstat(path, &st) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : (S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN);
        }
        if (type == DT_DIR) {
            if (subfolderCount == capacity) {
                capacity = capacity ? capacity * 2 : 16;
                subfolders = realloc(subfolders, capacity * sizeof *subfolders);
                if (!subfolders)
                    abort();
            }
            subfolders[subfolderCount++] = path;
            continue;
        }
        if (type == DT_REG && isMp3Name(entry->d_name))
            readFile(path);
        free(path);
    }
    closedir(dir);
    for (size_t i = 0; i < subfolderCount; ++i) {
        walk(subfolders[i]);
        free(subfolders[i]);
    }
    free(subfolders);
}

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "--head") == 0) {
        readHead = 1;
        first = 2;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: readloop [--head] FOLDER...\n");
        return 2;
    }
    for (int i = first; i < argc; ++i)
        walk(argv[i]);
    printf("%llu files, checksum %llu\n", fileCount, checksum);
    return 0;
}
