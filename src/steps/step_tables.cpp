// The three step tables of the release, in version order. Adding a step is adding
// a row here and its routine in its family's file.
#include "steps/step_routines.h"

namespace zuv::steps {

namespace {
// The last column names the tables each step changes in place (see FirmStep). A table
// that gets new fields is among them too: the field addition swaps its data file and
// memo file one after the other and leaves its work files behind until it ends, and a
// rerun finding the fields in place would not come back to either.
constexpr FirmStep kFirmSteps[] = {
    {"026.01.001", "I_26_01_001", I_26_01_001, ""},
    // The JPK tables are copied over the firm's before their indexes are rebuilt: a
    // run cut off between the two would meet a table with another's index.
    {"026.01.003", "I_26_01_003", I_26_01_003, "firma,v_inne,v_jpke,v_jpkd,v7_jpk"},
    {"026.01.005", "I_26_01_005", I_26_01_005, "firma,wspolnik"},
    {"026.01.006", "I_26_01_006", I_26_01_006, "firma"},
    // The KSeF buffers are replaced data file and memo file one after the other, the
    // line tables then completed in place; the balance buffer is replaced before its
    // index is rebuilt.
    {"026.01.007", "I_26_01_007", I_26_01_007, "v_oss,ksef_bs,ksef_bz,ksef_bza,ksef_bsa,vat_ptu,sld_buff"},
    {"026.01.012", "I_26_01_012", I_26_01_012, "vat_ptu"},
    {"026.01.013", "I_26_01_013", I_26_01_013, "ks_dok"},
    {"026.01.015", "I_26_01_015", I_26_01_015, "ksef_p,ksef_nip"},
    {"026.01.016", "I_26_01_016", I_26_01_016, "ks_dok,ks_kor"},
    {"026.01.017", "I_26_01_017", I_26_01_017, "ks_dok"},
    {"026.01.018", "I_26_01_018", I_26_01_018, "ksef_p"},
    {"026.01.023", "I_26_01_023", I_26_01_023, "ksef_bzb,ksef_bza"},
    {"026.01.024", "I_26_01_024", I_26_01_024, "ksef_p"},
    // The index of "vd" is built only with its new fields: a run cut off between the
    // two would skip it.
    {"026.01.025", "I_26_01_025", I_26_01_025, "vd"},
    {"026.01.027", "I_26_01_027", I_26_01_027, "v_z"},
    {"026.01.029", "I_26_01_029", I_26_01_029, "ks_kor"},
    {"026.01.030", "I_26_01_030", I_26_01_030, "rk_200,data,ks_dok,ksef_bs,ksef_bz"},
    {"026.01.033", "I_26_01_033", I_26_01_033, "ksef_bz,ksef_bs"},
};

constexpr StructureStep kStructureSteps[] = {
    {"026.01.001", "STR_26_01_001", STR_26_01_001}, {"026.01.003", "STR_26_01_003", STR_26_01_003},
    {"026.01.005", "STR_26_01_005", STR_26_01_005}, {"026.01.006", "STR_26_01_006", STR_26_01_006},
    {"026.01.007", "STR_26_01_007", STR_26_01_007}, {"026.01.008", "STR_26_01_008", STR_26_01_008},
    {"026.01.015", "STR_26_01_015", STR_26_01_015}, {"026.01.027", "STR_26_01_027", STR_26_01_027},
    {"026.01.030", "STR_26_01_030", STR_26_01_030}, {"026.01.032", "STR_26_01_032", STR_26_01_032},
};

constexpr TemplateStep kTemplateSteps[] = {
    {"26.01.001", "L26_01_001", L26_01_001}, {"26.01.004", "L26_01_004", L26_01_004},
    {"26.01.005", "L26_01_005", L26_01_005}, {"26.01.006", "L26_01_006", L26_01_006},
    {"26.01.007", "L26_01_007", L26_01_007}, {"26.01.008", "L26_01_008", L26_01_008},
    {"26.01.014", "L26_01_014", L26_01_014}, {"26.01.016", "L26_01_016", L26_01_016},
    {"26.01.024", "L26_01_024", L26_01_024}, {"26.01.025", "L26_01_025", L26_01_025},
    {"26.01.027", "L26_01_027", L26_01_027}, {"26.01.028", "L26_01_028", L26_01_028},
    {"26.01.029", "L26_01_029", L26_01_029}, {"26.01.030", "L26_01_030", L26_01_030},
};
}  // namespace

std::span<const FirmStep> firm_steps() { return kFirmSteps; }
std::span<const StructureStep> structure_steps() { return kStructureSteps; }
std::span<const TemplateStep> template_steps() { return kTemplateSteps; }

}  // namespace zuv::steps
