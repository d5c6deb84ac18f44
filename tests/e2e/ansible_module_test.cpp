// The Ansible module quellon_timer, run by ansible-playbook on this host
// against a private cupsd and the simulator with the built quellonctl. The
// playbook asserts what each task reported; this test what the printers got.
#include <gtest/gtest.h>

#include <string>

#include "cupsd.h"
#include "process.h"
#include "wire.h"
#include "zeld_sim.h"

namespace {

using namespace std::chrono_literals;

const std::string kModules = harness::SourcePath("ansible/plugins/modules");
const std::string kModuleUtils = harness::SourcePath("ansible/plugins/module_utils");

// Ansible wants a UTF-8 locale, and no configuration of the machine's.
harness::EnvChanges AnsibleEnv(const harness::TempDir& dir)
{
    harness::WriteFile(dir / "ansible.cfg", "");
    return {{"LANG", "C.UTF-8"},
            {"LC_ALL", std::nullopt},
            {"ANSIBLE_CONFIG", dir / "ansible.cfg"},
            {"ANSIBLE_NOCOLOR", "1"},
            {"ANSIBLE_LIBRARY", kModules},
            {"ANSIBLE_MODULE_UTILS", kModuleUtils}};
}

// Front-1 on 4 h, Front-2 off (2 h kept), Lab-1 on 3 h, and Refuser, which
// refuses every write, behind a private cupsd.
struct Fleet {
    Fleet()
    {
        for (const auto& [queue, model] : {std::pair{"Front-1", "Brelko M220"},
                                           {"Front-2", "Brelko M210"},
                                           {"Lab-1", "Brelko M220"},
                                           {"Refuser", "Brelko M230"}})
            EXPECT_TRUE(cupsd.AddQueue(queue, harness::MakePpd(model)));
    }

    // Runs the playbook with these variables; its exit status, its output
    // in `output`.
    int Play(const std::string& playbook, const std::string& policy, std::string* output)
    {
        return harness::Run({"ansible-playbook", "-c", "local", "-i", "localhost,", "-e",
                             "ansible_python_interpreter=" QUELLON_SYSTEM_PYTHON, "-e",
                             "quellonctl=" + harness::BuildPath("quellonctl/quellonctl"), "-e",
                             "policy=" + policy, harness::SourcePath("tests/e2e/" + playbook)},
                            180000ms, output,
                            harness::Combine({cupsd.env(), sim.Env(), AnsibleEnv(dir)}));
    }

    static harness::ZeldSim::Options SimOptions()
    {
        harness::ZeldSim::Options options;
        options.printers = {{"Front-1", 1, 5, 4},
                            {"Front-2", 1, 0, 0x8002},
                            {"Lab-1", 1, 5, 3},
                            {"Refuser", 1, 0, 3}};
        options.faults = {"Refuser " + std::to_string(harness::kWriteTimerItem) + " refuse 9"};
        return options;
    }

    harness::PrivateCupsd cupsd;
    harness::ZeldSim sim{SimOptions()};
    harness::TempDir dir;
};

TEST(AnsibleModule, WritesOnceLeavesCheckModeAloneAndFailsOnARefusal)
{
    Fleet fleet;
    harness::WriteFile(fleet.dir / "policy", "front-*  2   # already\nLab-1 off\n");
    std::string output;
    EXPECT_EQ(fleet.Play("quellon_timer_playbook.yml", fleet.dir / "policy", &output), 0) << output;
    // Two writes of the first run, Lab-1's beside the refusal, the policy's.
    EXPECT_EQ(fleet.sim.CountLog(" stored="), 4u) << fleet.sim.Log();
    EXPECT_EQ(fleet.sim.StoredTimer("Front-1"), 2);
    EXPECT_EQ(fleet.sim.StoredTimer("Front-2"), 2);
    EXPECT_EQ(fleet.sim.StoredTimer("Lab-1"), 0x8005);
}

TEST(AnsibleModule, InfoReportsTimersAndDriftAndNeverWrites)
{
    Fleet fleet;
    harness::WriteFile(fleet.dir / "policy", "front-* 4\nLab-1 3\n");
    std::string output;
    EXPECT_EQ(fleet.Play("quellon_timer_info_playbook.yml", fleet.dir / "policy", &output), 0)
        << output;
    // Read, and not even an attempt at a write.
    EXPECT_GT(fleet.sim.CountLog("request "), 0u) << fleet.sim.Log();
    EXPECT_EQ(fleet.sim.CountLog("item=" + std::to_string(harness::kWriteTimerItem)), 0u)
        << fleet.sim.Log();
}

TEST(AnsibleModule, AnsibleDocShowsItsOptionsAndExamples)
{
    harness::TempDir dir;
    std::string output;
    EXPECT_EQ(harness::Run({"ansible-doc", "-M", kModules, "quellon_timer"}, 60000ms, &output,
                           AnsibleEnv(dir)),
              0)
        << output;
    for (const char* part : {"policy", "EXAMPLES:", "quellon_timer:", "RETURN VALUES:"})
        EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
    EXPECT_EQ(harness::Run({"ansible-doc", "-M", kModules, "quellon_timer_info"}, 60000ms, &output,
                           AnsibleEnv(dir)),
              0)
        << output;
    for (const char* part : {"EXAMPLES:", "quellon_timer_info:", "RETURN VALUES:", "drift"})
        EXPECT_NE(output.find(part), std::string::npos) << part << " in\n" << output;
}

}  // namespace
