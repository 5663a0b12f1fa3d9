// The value-type and basic-type tables: which attribute ids (and which basic types) share which
// value form. A value type's number is its row's position, counted from 1.
#include "DmlpCoder.h"
#include "DmlpValueForms.h"

namespace {

const uint16_t kIds1[] = {144, 146, 199, 261, 266, 1080, 0};
const uint16_t kIds2[] = {2112, 2173, 2174, 0};
const uint16_t kIds3[] = {1077, 0};
const uint16_t kIds4[] = {
    12, 13, 16, 37, 45, 47, 49, 50, 51, 52, 53, 54, 57, 60, 88, 102, 115, 125, 161, 171, 175, 178, 179, 203,
    204, 218, 239, 240, 269, 270, 1011, 1012, 1051, 1058, 1060, 1063, 1075, 1078, 2008, 2014, 2015, 2016,
    2038, 2042, 2044, 2090, 2092, 2093, 2095, 2100, 2103, 2104, 2115, 2120, 2122, 2123, 2126, 2138, 2139,
    2141, 2143, 2155, 2156, 2165, 2172, 2175, 2177, 2179, 2182, 2184, 2186, 2190, 2192, 2200, 2202, 2203,
    2217, 2218, 2227, 2229, 2231, 2232, 2237, 2242, 2243, 2246, 2248, 2250, 2254, 2258, 2260, 2262, 2265,
    2266, 2267, 2269, 3002, 3004, 3013, 3015, 3024, 3033, 3034, 3050, 3058, 3071, 3118, 3139, 3140, 3149,
    3154, 3155, 3156, 3158, 3159, 3160, 3161, 3162, 3163, 3164, 3165, 3166, 3167, 3168, 3170, 3171, 3175,
    3182, 3183, 3185, 3191, 3193, 3194, 3195, 3200, 3201, 3205, 3209, 3210, 3211, 4005, 4006, 4015, 4024,
    4029, 4036, 4038, 4039, 4115, 4118, 4121, 4124, 4125, 4128, 4129, 5001, 5002, 6003, 6004, 10401, 10629,
    10631, 11004, 11007, 11008, 11012, 11013, 11502, 11503, 11515, 11602, 11603, 11610, 11611, 11612, 11706,
    11716, 11902, 11906, 11907, 11909, 11910, 11911, 11912, 12001, 12505, 12506, 12507, 0
};
const uint16_t kIds5[] = {2176, 3017, 3040, 4037, 0};
const uint16_t kIds6[] = {
    77, 99, 101, 103, 104, 105, 106, 107, 138, 195, 209, 210, 237, 238, 253, 2050, 2052, 2057, 2058, 2059,
    2064, 2065, 2072, 2076, 2078, 2097, 2098, 2099, 2105, 2106, 2113, 2114, 2125, 2135, 2142, 2166, 2167,
    2169, 2183, 2185, 2187, 2188, 2189, 2193, 2198, 2199, 2206, 2208, 2211, 2220, 2221, 2224, 2255, 2257,
    2259, 2275, 2304, 3053, 3054, 3056, 3057, 3064, 3067, 3068, 3069, 3073, 3075, 3077, 3079, 3096, 3097,
    3110, 3124, 3145, 3147, 3150, 3152, 3173, 3174, 3176, 3177, 3188, 3198, 3199, 4023, 4026, 4027, 4122,
    10645, 11006, 11506, 11507, 11606, 11607, 11905, 12007, 0
};
const uint16_t kIds7[] = {3016, 3187, 0};
const uint16_t kIds8[] = {108, 2154, 2157, 2205, 2209, 2210, 3109, 3127, 10628, 0};
const uint16_t kIds9[] = {2261, 3181, 0};
const uint16_t kIds10[] = {2149, 3055, 3074, 0};
const uint16_t kIds11[] = {3003, 3196, 3206, 0};
const uint16_t kIds12[] = {3078, 0};
const uint16_t kIds13[] = {89, 91, 113, 129, 160, 286, 1089, 2031, 2228, 3144, 0};
const uint16_t kIds14[] = {11608, 0};
const uint16_t kIds15[] = {
    81, 83, 84, 86, 87, 95, 136, 1028, 1029, 1030, 1034, 1038, 1055, 1072, 2144, 4032, 4123, 10610, 10643,
    11005, 11505, 11605, 11714, 11904, 0
};
const uint16_t kIds16[] = {242, 0};
const uint16_t kIds17[] = {236, 0};
const uint16_t kIds18[] = {1013, 0};
const uint16_t kIds19[] = {1076, 0};
const uint16_t kIds20[] = {3138, 0};
const uint16_t kIds21[] = {3157, 0};
const uint16_t kIds22[] = {46, 11707, 0};
const uint16_t kIds23[] = {100, 0};
const uint16_t kIds24[] = {1054, 1068, 1069, 0};
const uint16_t kIds25[] = {1045, 1046, 0};
const uint16_t kIds26[] = {1009, 0};
const uint16_t kIds27[] = {4019, 0};
const uint16_t kIds28[] = {3192, 0};
const uint16_t kIds29[] = {10632, 0};
const uint16_t kIds30[] = {10630, 0};
const uint16_t kIds31[] = {11708, 0};
const uint16_t kIds32[] = {2131, 2132, 0};
const uint16_t kIds33[] = {2163, 0};
const uint16_t kIds34[] = {2164, 0};
const uint16_t kIds35[] = {2010, 0};
const uint16_t kIds36[] = {2054, 0};
const uint16_t kIds37[] = {2159, 0};
const uint16_t kIds38[] = {1050, 0};
const uint16_t kIds39[] = {3018, 0};
const uint16_t kIds40[] = {3070, 0};
const uint16_t kIds41[] = {2178, 0};
const uint16_t kIds42[] = {2030, 0};
const uint16_t kIds43[] = {2158, 0};
const uint16_t kIds44[] = {2086, 0};
const uint16_t kIds45[] = {2150, 0};
const uint16_t kIds46[] = {2085, 0};
const uint16_t kIds47[] = {2168, 0};
const uint16_t kIds48[] = {2152, 0};
const uint16_t kIds49[] = {2216, 0};
const uint16_t kIds50[] = {2151, 0};
const uint16_t kIds51[] = {2063, 0};
const uint16_t kIds52[] = {2110, 0};
const uint16_t kIds53[] = {75, 126, 251, 0};
const uint16_t kIds54[] = {27, 0};
const uint16_t kIds55[] = {224, 5003, 5004, 0};
const uint16_t kIds56[] = {1008, 0};
const uint16_t kIds57[] = {1007, 0};
const uint16_t kIds58[] = {3, 0};
const uint16_t kIds59[] = {
    18, 20, 24, 36, 59, 72, 73, 74, 157, 158, 197, 225, 230, 234, 250, 259, 264, 268, 275, 276, 277, 278,
    289, 2006, 2017, 2025, 2040, 2041, 2083, 2109, 2124, 2137, 2181, 2219, 2223, 2268, 3125, 3126, 10618,
    10619, 10620, 10633, 10635, 10636, 10637, 10638, 10639, 10640, 10641, 11003, 11509, 11510, 11511, 11512,
    11513, 11514, 11604, 11701, 11715, 11801, 11802, 11809, 11903, 12501, 12504, 0
};
const uint16_t kIds60[] = {
    9, 14, 28, 29, 30, 180, 202, 226, 227, 228, 288, 1074, 2222, 4017, 4018, 6005, 10625, 10626, 10627,
    11806, 11807, 11808, 12005, 12510, 14004, 0
};
const uint16_t kIds61[] = {241, 1088, 0};
const uint16_t kIds62[] = {4035, 0};
const uint16_t kIds63[] = {3112, 3113, 0};
const uint16_t kIds64[] = {3019, 3169, 11009, 11010, 11011, 0};
const uint16_t kIds65[] = {3189, 0};
const uint16_t kIds66[] = {132, 147, 185, 186, 187, 198, 262, 1081, 0};
const uint16_t kIds67[] = {76, 130, 165, 166, 167, 181, 190, 194, 231, 255, 1047, 2018, 2027, 10644, 11508, 12008, 0};
const uint16_t kIds68[] = {2060, 2074, 2075, 2127, 2201, 2204, 0};
const uint16_t kIds69[] = {
    263, 271, 272, 273, 2225, 2226, 10646, 10647, 10648, 10649, 10650, 10651, 10652, 10653, 11014, 11609,
    11813, 11913, 12006, 12509, 13001, 0
};
const uint16_t kIds70[] = {78, 0};
const uint16_t kIds71[] = {2029, 2213, 0};
const uint16_t kIds72[] = {2062, 0};
const uint16_t kIds73[] = {2215, 0};
const uint16_t kIds74[] = {2214, 3005, 0};
const uint16_t kIds75[] = {4003, 0};
const uint16_t kIds76[] = {2, 176, 0};
const uint16_t kIds77[] = {156, 0};
const uint16_t kIds78[] = {1016, 0};
const uint16_t kIds79[] = {2009, 0};
const uint16_t kIds80[] = {2153, 0};
const uint16_t kIds81[] = {2088, 0};
const uint16_t kIds82[] = {2051, 0};
const uint16_t kIds83[] = {2196, 2212, 0};
const uint16_t kIds84[] = {1053, 1066, 1067, 0};
const uint16_t kIds85[] = {1064, 0};
const uint16_t kIds86[] = {1065, 0};
const uint16_t kIds87[] = {12009, 0};
const uint16_t kIds88[] = {3184, 0};
const uint16_t kIds89[] = {1079, 2234, 0};
const uint16_t kIds90[] = {58, 3035, 4016, 0};
const uint16_t kIds91[] = {3137, 0};
const uint16_t kIds92[] = {109, 3111, 4034, 0};
const uint16_t kIds93[] = {229, 0};
const uint16_t kIds94[] = {3020, 0};
const uint16_t kIds95[] = {3001, 0};
const uint16_t kIds96[] = {3014, 0};
const uint16_t kIds97[] = {3065, 0};
const uint16_t kIds98[] = {2195, 3049, 0};
const uint16_t kIds99[] = {1062, 2191, 0};
const uint16_t kIds100[] = {
    23, 25, 31, 32, 35, 44, 48, 133, 1070, 2001, 2002, 2003, 2004, 2005, 2007, 2019, 2020, 2021, 2022, 2023,
    2024, 2045, 2046, 2049, 2082, 3023, 3051, 3072, 3142, 3143, 4025, 4028, 4030, 4041, 4043, 4116, 10617,
    10621, 10622, 10623, 10624, 11705, 11803, 12512, 0
};
const uint16_t kIds101[] = {85, 92, 117, 121, 123, 2084, 2087, 3172, 0};
const uint16_t kIds102[] = {4020, 0};
const uint16_t kIds104[] = {2079, 2080, 3128, 0};
const uint16_t kIds105[] = {3179, 0};
const uint16_t kIds106[] = {2170, 2171, 3180, 0};
const uint16_t kIds107[] = {3186, 0};
const uint16_t kIds108[] = {4031, 0};
const uint16_t kIds109[] = {
    66, 67, 68, 112, 170, 172, 173, 174, 232, 233, 244, 245, 246, 247, 248, 249, 252, 290, 4002, 11517,
    11518, 11811, 0
};
const uint16_t kIds111[] = {1044, 4120, 0};
const uint16_t kIds112[] = {
    63, 64, 65, 80, 111, 116, 135, 168, 169, 207, 208, 211, 212, 213, 214, 215, 216, 217, 220, 221, 222,
    243, 254, 1001, 1002, 1003, 1057, 0
};
const uint16_t kIds113[] = {219, 0};
const uint16_t kIds114[] = {4008, 4011, 4013, 4042, 0};
const uint16_t kIds115[] = {4004, 4040, 4127, 0};
const uint16_t kIds116[] = {4010, 0};
const uint16_t kIds117[] = {11812, 0};
const uint16_t kIds118[] = {8, 19, 118, 122, 124, 1052, 1071, 10402, 0};
const uint16_t kIds119[] = {
    4, 6, 7, 10, 11, 39, 279, 287, 1017, 1018, 1019, 1035, 1039, 1056, 1073, 1083, 2091, 2140, 2180, 4009,
    4012, 4014, 4044, 10601, 10642, 11001, 11501, 11601, 11702, 11703, 11804, 11901, 12002, 12003, 12502,
    12503, 12508, 12511, 13003, 14002, 0
};
const uint16_t kIds120[] = {2121, 0};
const uint16_t kIds121[] = {2032, 0};
const uint16_t kIds122[] = {2194, 0};
const uint16_t kIds123[] = {1059, 0};
const uint16_t kIds124[] = {1049, 0};
const uint16_t kIds125[] = {1010, 0};
const uint16_t kIds126[] = {2247, 0};
const uint16_t kIds127[] = {1082, 0};
const uint16_t kIds128[] = {274, 0};
const uint16_t kIds129[] = {11908, 0};
const uint16_t kIds130[] = {11015, 0};
const uint16_t kIds131[] = {6002, 0};
const uint16_t kIds132[] = {6011, 6013, 0};
const uint16_t kIds133[] = {6009, 0};
const uint16_t kIds134[] = {6014, 0};
const uint16_t kIds135[] = {6015, 0};
const uint16_t kIds136[] = {6010, 0};
const uint16_t kIds137[] = {6012, 6016, 0};
const uint16_t kIds138[] = {6001, 0};
const uint16_t kIds139[] = {280, 0};
const uint16_t kIds140[] = {6006, 0};
const uint16_t kIds141[] = {6008, 0};
const uint16_t kIds142[] = {2230, 0};
const uint16_t kIds143[] = {282, 0};
const uint16_t kIds144[] = {283, 0};
const uint16_t kIds145[] = {2297, 0};
const uint16_t kIds146[] = {2282, 0};
const uint16_t kIds147[] = {2284, 0};
const uint16_t kIds148[] = {305, 0};
const uint16_t kIds149[] = {310, 0};
const uint16_t kIds150[] = {11613, 11614, 0};
const uint16_t kIds151[] = {304, 0};
const uint16_t kNoIds[] = {0};

} // namespace

const DmlpValueTypeRow DmlpValueTypeTable[] = {
    {kIds1, 0, &DmlpValueForm1},
    {kIds2, 0, &DmlpValueForm2},
    {kIds3, 0, &DmlpValueForm3},
    {kIds4, 0, &DmlpValueForm4},
    {kIds5, 0, &DmlpValueForm5},
    {kIds6, 0, &DmlpValueForm6},
    {kIds7, 0, &DmlpValueForm7},
    {kIds8, 0, &DmlpValueForm8},
    {kIds9, 0, &DmlpValueForm9},
    {kIds10, 0, &DmlpValueForm10},
    {kIds11, 0, &DmlpValueForm11},
    {kIds12, 0, &DmlpValueForm12},
    {kIds13, 0, &DmlpValueForm13},
    {kIds14, 0, &DmlpValueForm14},
    {kIds15, 0, &DmlpValueForm15},
    {kIds16, 0, &DmlpValueForm16},
    {kIds17, 0, &DmlpValueForm17},
    {kIds18, 0, &DmlpValueForm18},
    {kIds19, 0, &DmlpValueForm19},
    {kIds20, 0, &DmlpValueForm20},
    {kIds21, 0, &DmlpValueForm21},
    {kIds22, 0, &DmlpValueForm22},
    {kIds23, 0, &DmlpValueForm23},
    {kIds24, 0, &DmlpValueForm24},
    {kIds25, 0, &DmlpValueForm25},
    {kIds26, 0, &DmlpValueForm26},
    {kIds27, 0, &DmlpValueForm27},
    {kIds28, 0, &DmlpValueForm28},
    {kIds29, 0, &DmlpValueForm29},
    {kIds30, 0, &DmlpValueForm30},
    {kIds31, 0, &DmlpValueForm31},
    {kIds32, 0, &DmlpValueForm32},
    {kIds33, 0, &DmlpValueForm33},
    {kIds34, 0, &DmlpValueForm34},
    {kIds35, 0, &DmlpValueForm35},
    {kIds36, 0, &DmlpValueForm36},
    {kIds37, 0, &DmlpValueForm37},
    {kIds38, 0, &DmlpValueForm38},
    {kIds39, 0, &DmlpValueForm39},
    {kIds40, 0, &DmlpValueForm40},
    {kIds41, 0, &DmlpValueForm41},
    {kIds42, 0, &DmlpValueForm42},
    {kIds43, 0, &DmlpValueForm43},
    {kIds44, 0, &DmlpValueForm44},
    {kIds45, 0, &DmlpValueForm45},
    {kIds46, 0, &DmlpValueForm46},
    {kIds47, 0, &DmlpValueForm47},
    {kIds48, 0, &DmlpValueForm48},
    {kIds49, 0, &DmlpValueForm49},
    {kIds50, 0, &DmlpValueForm50},
    {kIds51, 0, &DmlpValueForm51},
    {kIds52, 0, &DmlpValueForm52},
    {kIds53, 0, &DmlpValueForm53},
    {kIds54, 0, &DmlpValueForm54},
    {kIds55, 0, &DmlpValueForm55},
    {kIds56, 0, &DmlpValueForm56},
    {kIds57, 0, &DmlpValueForm57},
    {kIds58, 0, &DmlpValueForm58},
    {kIds59, 0, &DmlpValueForm59},
    {kIds60, 0, &DmlpValueForm60},
    {kIds61, 0, &DmlpValueForm61},
    {kIds62, 0, &DmlpValueForm62},
    {kIds63, 0, &DmlpValueForm63},
    {kIds64, 0, &DmlpValueForm64},
    {kIds65, 0, &DmlpValueForm65},
    {kIds66, 0, &DmlpValueForm66},
    {kIds67, 0, &DmlpValueForm67},
    {kIds68, 0, &DmlpValueForm68},
    {kIds69, 0, &DmlpValueForm69},
    {kIds70, 0, &DmlpValueForm70},
    {kIds71, 0, &DmlpValueForm71},
    {kIds72, 0, &DmlpValueForm72},
    {kIds73, 0, &DmlpValueForm73},
    {kIds74, 0, &DmlpValueForm74},
    {kIds75, 0, &DmlpValueForm75},
    {kIds76, 0, &DmlpValueForm76},
    {kIds77, 0, &DmlpValueForm77},
    {kIds78, 0, &DmlpValueForm78},
    {kIds79, 0, &DmlpValueForm79},
    {kIds80, 0, &DmlpValueForm80},
    {kIds81, 0, &DmlpValueForm81},
    {kIds82, 0, &DmlpValueForm82},
    {kIds83, 0, &DmlpValueForm83},
    {kIds84, 0, &DmlpValueForm84},
    {kIds85, 0, &DmlpValueForm85},
    {kIds86, 0, &DmlpValueForm86},
    {kIds87, 0, &DmlpValueForm87},
    {kIds88, 0, &DmlpValueForm88},
    {kIds89, 0, &DmlpValueForm89},
    {kIds90, 0, &DmlpValueForm90},
    {kIds91, 0, &DmlpValueForm91},
    {kIds92, 0, &DmlpValueForm92},
    {kIds93, 0, &DmlpValueForm93},
    {kIds94, 0, &DmlpValueForm94},
    {kIds95, 0, &DmlpValueForm95},
    {kIds96, 0, &DmlpValueForm96},
    {kIds97, 0, &DmlpValueForm97},
    {kIds98, 0, &DmlpValueForm98},
    {kIds99, 0, &DmlpValueForm99},
    {kIds100, 0, &DmlpValueForm100},
    {kIds101, 0, &DmlpValueForm101},
    {kIds102, 0, &DmlpValueForm102},
    {kNoIds, 0, nullptr},   // 103: not in use
    {kIds104, 0, &DmlpValueForm104},
    {kIds105, 0, &DmlpValueForm105},
    {kIds106, 0, &DmlpValueForm106},
    {kIds107, 0, &DmlpValueForm107},
    {kIds108, 0, &DmlpValueForm108},
    {kIds109, 0, &DmlpValueForm109},
    {kNoIds, 0, nullptr},   // 110: not in use
    {kIds111, 0, &DmlpValueForm111},
    {kIds112, 0, &DmlpValueForm112},
    {kIds113, 0, &DmlpValueForm113},
    {kIds114, 0, &DmlpValueForm114},
    {kIds115, 0, &DmlpValueForm115},
    {kIds116, 0, &DmlpValueForm116},
    {kIds117, 0, &DmlpValueForm117},
    {kIds118, 0, &DmlpValueForm118},
    {kIds119, 0, &DmlpValueForm119},
    {kIds120, 0, &DmlpValueForm120},
    {kIds121, 0, &DmlpValueForm121},
    {kIds122, 0, &DmlpValueForm122},
    {kIds123, 0, &DmlpValueForm123},
    {kIds124, 0, &DmlpValueForm124},
    {kIds125, 0, &DmlpValueForm125},
    {kIds126, 0, &DmlpValueForm126},
    {kIds127, 0, &DmlpValueForm127},
    {kIds128, 0, &DmlpValueForm128},
    {kIds129, 0, &DmlpValueForm129},
    {kIds130, 0, &DmlpValueForm130},
    {kIds131, 0, &DmlpValueForm131},
    {kIds132, 0, &DmlpValueForm132},
    {kIds133, 0, &DmlpValueForm133},
    {kIds134, 0, &DmlpValueForm134},
    {kIds135, 0, &DmlpValueForm135},
    {kIds136, 0, &DmlpValueForm136},
    {kIds137, 0, &DmlpValueForm137},
    {kIds138, 0, &DmlpValueForm138},
    {kIds139, 0, &DmlpValueForm139},
    {kIds140, 0, &DmlpValueForm140},
    {kIds141, 0, &DmlpValueForm141},
    {kIds142, 0, &DmlpValueForm142},
    {kIds143, 0, &DmlpValueForm143},
    {kIds144, 0, &DmlpValueForm144},
    {kIds145, 0, &DmlpValueForm145},
    {kIds146, 0, &DmlpValueForm146},
    {kIds147, 0, &DmlpValueForm147},
    {kIds148, 0, &DmlpValueForm148},
    {kIds149, 0, &DmlpValueForm149},
    {kIds150, 0, &DmlpValueForm150},
    {kIds151, 0, &DmlpValueForm151},
    {nullptr, 0, nullptr},
};

// Pairs 2/3, 4/5 and 6/7 share one codec; several codecs are those of a value type.
const DmlpBasicTypeRow DmlpBasicTypeTable[] = {
    {2, 0, &DmlpValueForm4},
    {3, 0, &DmlpValueForm4},
    {4, 0, &DmlpValueForm100},
    {5, 0, &DmlpValueForm100},
    {6, 0, &DmlpValueForm59},
    {7, 0, &DmlpValueForm59},
    {8, 0, &DmlpValueForm118},
    {9, 0, &DmlpValueForm117},
    {20, 0, &DmlpBasicForm20},
    {21, 0, &DmlpValueForm109},
    {22, 0, &DmlpBasicForm22},
    {23, 0, &DmlpBasicForm23},
    {0, 0, nullptr},
};
