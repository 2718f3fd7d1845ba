// docs/scale-out.md's recipes on real schedulers: the Slurm array job on a one-node cluster started here, and
// GNU parallel. Their parts must add up to the one-machine run, and a second submission converts nothing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;

// Every file below folder (relative path -> bytes), hidden ones (logs, reports) left out.
std::map<std::string, std::vector<uint8_t>> Tree(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename().string()[0] == '.') continue;
        if (it->is_regular_file()) files[fs::relative(it->path(), folder)] = ReadBytes(it->path());
    }
    return files;
}

// The array job script of docs/scale-out.md, as a user copies it.
std::string SlurmScript() {
    std::ifstream doc(std::string(PELLORAN_SOURCE_DIR) + "/docs/scale-out.md");
    std::string script, line;
    bool in = false;
    while (std::getline(doc, line)) {
        if (line == "    #!/bin/bash") in = true;
        else if (in && line.rfind("    ", 0) != 0) break;
        if (in) script += line.substr(4) + "\n";
    }
    return script;
}

class ScaleOut : public Hostile {
protected:
    // 300 short files in 30 albums whose track names repeat (01.flac .. 09.flac, and 01.wav beside 01.flac).
    void MakeLibrary() {
        std::string chord = "C4";
        for (int album = 0; album < 30; ++album) {
            const std::string folder = dir_ / ("music/Artist " + std::to_string(album % 4) + "/Album " + std::to_string(album));
            fs::create_directories(folder);
            for (int track = 1; track <= 10; ++track) {
                const std::string name = track == 10 ? "01.wav" : "0" + std::to_string(track) + ".flac";
                const auto r = test::Run({"sox", "-n", "-r", "8000", "-c", "1", folder + "/" + name, "synth", "0.1",
                                          "pluck", std::to_string(110 + album * 10 + track), "fade", "0", "0.1",
                                          "0.02"});
                ASSERT_EQ(r.exitCode, 0) << r.err;
            }
        }
        WriteBytes(settingsFile_, {});
        const auto one = Cli({"-q", "-n", "-f", "flac", "-o", dir_ / "one", "--keep-tree", dir_ / "music"});
        ASSERT_EQ(one.exitCode, 0) << one.err;
        reference_ = Tree(dir_ / "one");
        ASSERT_EQ(reference_.size(), 300u);
    }
    std::vector<std::string> Env() const {
        auto env = Hostile::Env();
        env.push_back("PATH=" + fs::path(CliPath()).parent_path().string() + ":/usr/sbin:/usr/bin:/sbin:/bin");
        env.push_back("MUSIC=" + (dir_ / "music"));
        env.push_back("OUT=" + (dir_ / "parts"));
        env.push_back("SETTINGS=" + settingsFile_);
        env.push_back("FORMAT=flac");  // Ogg streams carry a random serial number: FLAC compares byte for byte
        return env;
    }
    std::map<std::string, std::vector<uint8_t>> reference_;
};

// How many conversions the parts' logs report (their JSON summaries).
int ConvertedInLogs(const fs::path& folder) {
    int converted = 0;
    const std::regex summary("\"summary\":true.*\"converted\":([0-9]+)");
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".log-", 0) != 0) continue;
        std::ifstream log(entry.path());
        std::string line;
        std::smatch match;
        while (std::getline(log, line)) {
            if (std::regex_search(line, match, summary)) converted += std::stoi(match[1]);
        }
        fs::remove(entry.path());
    }
    return converted;
}

TEST_F(ScaleOut, SlurmArrayJobAddsUpToTheOneMachineRun) {
    for (const char* tool : {"slurmctld", "slurmd", "sbatch", "munged"}) {
        if (!HaveTool(tool) && !fs::exists(std::string("/usr/sbin/") + tool))
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    }
    if (geteuid() != 0) GTEST_SKIP() << "a one-node Slurm cluster needs root here (slurmd runs jobs as their user)";
    MakeLibrary();
    // The cluster: munge with its own key and socket, slurmctld and slurmd on free ports, no cgroups.
    const std::string up = R"(set -e
D=$1; cd "$D"; mkdir -p state spool log; export PATH=/usr/sbin:/sbin:$PATH
head -c 1024 /dev/urandom > munge.key; chmod 600 munge.key
munged --key-file=$D/munge.key --socket=$D/munge.sock --pid-file=$D/munged.pid --log-file=$D/log/munged.log --seed-file=$D/munge.seed -f </dev/null >/dev/null 2>&1
H=$(hostname); P=$((20000 + $$ % 20000))
cat > slurm.conf <<CONF
ClusterName=pelloran
SlurmctldHost=$H(127.0.0.1)
AuthType=auth/munge
AuthInfo=socket=$D/munge.sock
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SlurmUser=root
SlurmctldPort=$P
SlurmdPort=$((P + 1))
StateSaveLocation=$D/state
SlurmdSpoolDir=$D/spool
SlurmctldPidFile=$D/slurmctld.pid
SlurmdPidFile=$D/slurmd.pid
SlurmctldLogFile=$D/log/slurmctld.log
SlurmdLogFile=$D/log/slurmd.log
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
NodeName=$H NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=main Nodes=$H Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$D/slurm.conf
# The daemons keep no end of the test's pipes open.
slurmctld -f $D/slurm.conf </dev/null >/dev/null 2>&1
slurmd -f $D/slurm.conf </dev/null >/dev/null 2>&1
for i in $(seq 100); do sinfo -h -o %T 2>/dev/null | grep -q idle && exit 0; sleep 0.1; done
echo "the node never became idle"; cat log/*.log; exit 1
)";
    const std::string cluster = dir_ / "cluster";
    fs::create_directories(cluster);
    std::ofstream(cluster + "/up.sh") << up;
    std::ofstream(cluster + "/job.sh") << SlurmScript();
    auto env = Env();
    env.push_back("SLURM_CONF=" + cluster + "/slurm.conf");
    struct Down {
        std::string folder;
        std::vector<std::string> env;
        ~Down() {
            test::Run({"sh", "-c", "scontrol shutdown 2>/dev/null; sleep 0.5; for p in slurmd slurmctld munged; do "
                                   "[ -f " + folder + "/$p.pid ] && kill $(cat " + folder + "/$p.pid) 2>/dev/null; done; true"},
                      env);
        }
    } down{cluster, env};
    // Started by the shell, not through a pipe: the daemons would hold its end open.
    const int started = std::system(("bash " + cluster + "/up.sh " + cluster + " > " + cluster + "/up.log 2>&1").c_str());
    if (started != 0) {
        const auto log = ReadBytes(cluster + "/up.log");
        GTEST_SKIP() << "Slurm did not start here: " << std::string(log.begin(), log.end());
    }

    fs::create_directories(dir_ / "parts");
    for (int submission = 0; submission < 2; ++submission) {
        const auto submitted = test::Run({"sbatch", "--parsable", "--array=1-3", "-o", cluster + "/slurm-%a.out",
                                          cluster + "/job.sh"}, env);
        ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
        const std::string id = submitted.out.substr(0, submitted.out.find_first_of(";\n"));
        // Waits for the array (sbatch --wait polls only every ten seconds).
        for (int i = 0; i < 1200; ++i) {
            if (test::Run({"squeue", "-h", "-j", id}, env).out.empty()) break;
            usleep(100000);
        }
        const auto states = test::Run({"sacct", "-n", "-X", "-j", id, "-o", "State"}, env);
        const int converted = ConvertedInLogs(dir_ / "parts");
        EXPECT_EQ(converted, submission == 0 ? 300 : 0) << states.out;
        const auto parts = Tree(dir_ / "parts");
        EXPECT_TRUE(parts == reference_) << "submission " << submission << ": " << parts.size() << " files, "
                                         << (parts.empty() ? "" : parts.begin()->first) << " first";
    }
}

TEST_F(ScaleOut, GnuParallelAddsUpToTheOneMachineRun) {
    if (!HaveTool("parallel")) GTEST_SKIP() << "GNU parallel is not installed (scripts/install-deps installs it)";
    MakeLibrary();
    fs::create_directories(dir_ / "parts");
    const std::string command =
        "seq 1 2 | parallel --will-cite -j2 'pelloran-cli -q -n --settings \"$SETTINGS\" -f flac -o \"$OUT\" "
        "--keep-tree --shard {}/2 --json \"$MUSIC\" > \"$OUT/.log-{}\"'";
    for (int run = 0; run < 2; ++run) {
        const auto r = test::Run({"bash", "-c", command}, Env());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(ConvertedInLogs(dir_ / "parts"), run == 0 ? 300 : 0);
        EXPECT_TRUE(Tree(dir_ / "parts") == reference_);
    }
}

}  // namespace
}  // namespace pelloran::test
