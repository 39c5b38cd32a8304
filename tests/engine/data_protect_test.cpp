// The machine key's rights: owner-only when made, whatever the umask, and
// made owner-only again at start-up when found readable by others, except in
// the data directory the camera service shares with every local user.
#include "engine/data_protect.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string temp_dir(mode_t mode) {
    char tmpl[] = "/tmp/zeb-key-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    chmod(dir.c_str(), mode);
    return dir;
}

}  // namespace

TEST(MachineKey, OwnerOnlyRights) {
    const mode_t old = umask(0);
    const std::string dir = temp_dir(0700), key = dir + "/machine.key";
    auto blob = protect_data("secret", dir);
    umask(old);
    ASSERT_TRUE(blob);
    EXPECT_EQ(mode_of(key), 0600u);

    // Found readable by others: mended, and the key still opens old blobs.
    chmod(key.c_str(), 0644);
    secure_machine_key(dir);
    EXPECT_EQ(mode_of(key), 0600u);
    EXPECT_EQ(unprotect_data(*blob, dir), "secret");

    // The service's shared directory keeps the key readable by every user's camera.
    chmod(dir.c_str(), 0777);
    chmod(key.c_str(), 0644);
    secure_machine_key(dir);
    EXPECT_EQ(mode_of(key), 0644u);
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}
