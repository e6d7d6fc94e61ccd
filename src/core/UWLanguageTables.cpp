#include "core/UWLanguageTables.h"

using namespace Qt::StringLiterals;

// The rows of each name table are the Chinese names, looked up as interface
// strings when a list is built; the code tables are the services' own codes.

const QStringList& UWLanguageTables::iflyCodes()
{
    static const QStringList codes { u"zh_cn"_s, u"en_us"_s, u"zh_cn_cantonese_simple"_s, u"zh_cn_minnanese"_s,
        u"zh_cn_lmz"_s, u"zh_cn_shanghainese"_s, u"zh_hk"_s, u"zh_cn_cantonese_traditional"_s };
    return codes;
}

const QStringList& UWLanguageTables::aiuiCodes()
{
    static const QStringList codes { u"main"_s, u"english"_s, u"yueyu"_s, u"minnanhua"_s, u"sichuanhua"_s,
        u"shanghaihua"_s, u"aiui_zh_hk"_s, u"aiui_zh_cantonese_traditional"_s };
    return codes;
}

const QStringList& UWLanguageTables::baiduDictationCodes()
{
    // The fourth is the service's code for English input.
    static const QStringList codes { u"1536"_s, u"1537"_s, u"1537"_s, u"1737"_s };
    return codes;
}

const QStringList& UWLanguageTables::microsoftAsrCodes()
{
    static const QStringList codes {
        u"zh-CN"_s, u"zh-TW"_s, u"zh-HK"_s, u"en-US"_s, u"en-AU"_s, u"en-CA"_s,
        u"en-GB"_s, u"en-IN"_s, u"en-NZ"_s, u"ar-EG"_s, u"ca-ES"_s, u"da-DK"_s,
        u"de-DE"_s, u"es-ES"_s, u"es-MX"_s, u"fi-FI"_s, u"fr-CA"_s, u"fr-FR"_s,
        u"hi-IN"_s, u"it-IT"_s, u"ja-JP"_s, u"ko-KR"_s, u"nb-NO"_s, u"nl-NL"_s,
        u"pl-PL"_s, u"pt-BR"_s, u"pt-PT"_s, u"ru-RU"_s, u"sv-SE"_s, u"th-TH"_s,
    };
    return codes;
}

const QStringList& UWLanguageTables::microsoftAsrNames()
{
    static const QStringList names {
        u"简体中文"_s, u"繁体中文(台湾)"_s, u"粤语(香港)"_s, u"英语(美国)"_s, u"英语(澳大利亚)"_s,
        u"英语(加拿大)"_s, u"英语(英国)"_s, u"英语(印度)"_s, u"英语(新西兰)"_s, u"阿拉伯语(埃及)"_s,
        u"加泰罗尼亚语"_s, u"丹麦语"_s, u"德语"_s, u"西班牙语(西班牙)"_s, u"西班牙语(墨西哥)"_s,
        u"芬兰语"_s, u"法语(加拿大)"_s, u"法语(法国)"_s, u"印地语"_s, u"意大利语"_s,
        u"日语"_s, u"韩语"_s, u"挪威语"_s, u"荷兰语"_s, u"波兰语"_s,
        u"葡萄牙语(巴西)"_s, u"葡萄牙语(葡萄牙)"_s, u"俄语"_s, u"瑞典语"_s, u"泰语"_s,
    };
    return names;
}

const QStringList& UWLanguageTables::microsoftTranslationCodes()
{
    static const QStringList codes {
        u"zh-Hans"_s, u"zh-Hant"_s, u"en"_s, u"ar"_s, u"et"_s, u"bg"_s, u"pl"_s, u"da"_s,
        u"de"_s, u"ru"_s, u"fr"_s, u"fil"_s, u"ko"_s, u"nl"_s, u"cs"_s, u"pt"_s,
        u"ja"_s, u"sv"_s, u"sl"_s, u"th"_s, u"es"_s, u"el"_s, u"hu"_s, u"it"_s,
        u"vi"_s, u"yue"_s, u"ro"_s, u"af"_s, u"bn"_s, u"bs"_s, u"ca"_s, u"hr"_s,
        u"fj"_s, u"fil"_s, u"ht"_s, u"he"_s, u"hi"_s, u"mww"_s, u"is"_s, u"id"_s,
        u"sw"_s, u"tlh"_s, u"tlh-Qaak"_s, u"lv"_s, u"lt"_s, u"mg"_s, u"ms"_s, u"mt"_s,
        u"nb"_s, u"fa"_s, u"otq"_s, u"sm"_s, u"sr-Cyrl"_s, u"sr-Latn"_s, u"sk"_s, u"ty"_s,
        u"ta"_s, u"te"_s, u"to"_s, u"tr"_s, u"uk"_s, u"ur"_s, u"cy"_s, u"yua"_s,
    };
    return codes;
}

const QStringList& UWLanguageTables::baiduTranslationCodes()
{
    static const QStringList codes {
        u"zh"_s, u"en"_s, u"jp"_s, u"kor"_s, u"ara"_s, u"alb"_s, u"arg"_s, u"aym"_s, u"oss"_s, u"ori"_s,
        u"gle"_s, u"arq"_s, u"amh"_s, u"aze"_s, u"est"_s, u"orm"_s, u"oci"_s, u"aka"_s, u"asm"_s, u"ast"_s,
        u"oji"_s, u"pl"_s, u"bak"_s, u"bel"_s, u"bul"_s, u"bem"_s, u"bal"_s, u"bho"_s, u"per"_s, u"baq"_s,
        u"ber"_s, u"sme"_s, u"bli"_s, u"ice"_s, u"bre"_s, u"pot"_s, u"pam"_s, u"ped"_s, u"bis"_s, u"bos"_s,
        u"chv"_s, u"tso"_s, u"dan"_s, u"sha"_s, u"log"_s, u"de"_s, u"tet"_s, u"tat"_s, u"div"_s, u"ru"_s,
        u""_s, u""_s, u""_s, u""_s, u""_s, u""_s, u""_s, u"gla"_s, u"hkm"_s, u"guj"_s,
        u"gra"_s, u"kon"_s, u"kal"_s, u"gra"_s, u"ups"_s, u"geo"_s, u"eno"_s, u"kak"_s, u"hau"_s, u"nl"_s,
        u"kaz"_s, u"mot"_s, u"hup"_s, u"ht"_s, u"kir"_s, u"cat"_s, u"glg"_s, u"cs"_s, u"frn"_s, u"kab"_s,
        u"kah"_s, u"cos"_s, u"kli"_s, u"kas"_s, u"kan"_s, u"cor"_s, u"cre"_s, u"hrv"_s, u"kok"_s, u"kau"_s,
        u"xho"_s, u"cri"_s, u"que"_s, u"kur"_s, u"lat"_s, u"lag"_s, u"lin"_s, u"ruy"_s, u"roh"_s, u"lao"_s,
        u"lav"_s, u"lug"_s, u"kin"_s, u"ro"_s, u"rom"_s, u"lim"_s, u"ltz"_s, u"lit"_s, u"loj"_s, u"may"_s,
        u"mg"_s, u"mah"_s, u"mau"_s, u"mlt"_s, u"moc"_s, u"bur"_s, u"mal"_s, u"mai"_s, u"mao"_s, u"mon"_s,
        u"hmn"_s, u"mar"_s, u"mac"_s, u"glv"_s, u"ben"_s, u"mr"_s, u"nor"_s, u"afr"_s, u"nea"_s, u"sot"_s,
        u"nbl"_s, u"nep"_s, u"pt"_s, u"pus"_s, u"pan"_s, u"pap"_s, u"nya"_s, u"twi"_s, u"chr"_s, u"swe"_s,
        u"srd"_s, u"srp"_s, u"epo"_s, u"slo"_s, u"som"_s, u"sm"_s, u"sol"_s, u"nob"_s, u"swa"_s, u"tn"_s,
        u"sec"_s, u"sin"_s, u"sk"_s, u"sco"_s, u"src"_s, u"th"_s, u"tam"_s, u"tel"_s, u"tt"_s, u"tr"_s,
        u"tgl"_s, u"tua"_s, u"tgk"_s, u"tir"_s, u"tuk"_s, u"ukr"_s, u"ven"_s, u"uzb"_s, u"wln"_s, u"wol"_s,
        u"uig"_s, u"wel"_s, u"urd"_s, u"spa"_s, u"hu"_s, u"hil"_s, u"nno"_s, u"sna"_s, u"heb"_s, u"fry"_s,
        u"los"_s, u"nqo"_s, u"ceb"_s, u"el"_s, u"sil"_s, u"haw"_s, u"snd"_s, u"syr"_s, u"sun"_s, u"it"_s,
        u"ina"_s, u"ibo"_s, u"arm"_s, u"ir"_s, u"hi"_s, u"vie"_s, u"ach"_s, u"ido"_s, u"iku"_s, u"id"_s,
        u"yid"_s, u"ing"_s, u"yor"_s, u"iu"_s, u"yue"_s, u"zul"_s, u"cht"_s, u"zaz"_s, u"jav"_s, u"wyw"_s,
        u"frm"_s,
    };
    return codes;
}

const QStringList& UWLanguageTables::baiduTranslationNames()
{
    static const QStringList names {
        u"中文（简体）"_s, u"英语"_s, u"日语"_s, u"韩语"_s, u"阿拉伯语"_s, u"阿尔巴尼亚语"_s,
        u"阿拉贡语"_s, u"艾马拉语"_s, u"奥塞梯语"_s, u"奥利亚语"_s, u"爱尔兰语"_s, u"阿尔及利亚阿拉伯语"_s,
        u"阿姆哈拉语"_s, u"阿塞拜疆语"_s, u"爱沙尼亚语"_s, u"奥罗莫语"_s, u"奥克语"_s, u"阿肯语"_s,
        u"阿萨姆语"_s, u"阿斯图里亚斯语"_s, u"奥杰布瓦语"_s, u"波兰语"_s, u"巴什基尔语"_s, u"白俄罗斯语"_s,
        u"保加利亚语"_s, u"本巴语"_s, u"俾路支语"_s, u"比哈尔语"_s, u"波斯语"_s, u"巴斯克语"_s,
        u"柏柏尔语"_s, u"北方萨米语"_s, u"巴利语"_s, u"冰岛语"_s, u"布列塔尼语"_s, u"巴西语"_s,
        u"邦板牙语"_s, u"北索托语"_s, u"比斯拉马语"_s, u"波斯尼亚语"_s, u"楚瓦什语"_s, u"聪加语"_s,
        u"丹麦语"_s, u"掸语"_s, u"低地德语"_s, u"德语"_s, u"德顿语"_s, u"鞑靼语"_s,
        u"迪维希语"_s, u"俄语"_s, u"法语"_s, u"梵语"_s, u"法罗语"_s, u"菲律宾语"_s,
        u"弗留利语"_s, u"芬兰语"_s, u"富拉尼语"_s, u"盖尔语"_s, u"高棉语"_s, u"古吉拉特语"_s,
        u"古希腊语"_s, u"刚果语"_s, u"格陵兰语"_s, u"瓜拉尼语"_s, u"高地索布语"_s, u"格鲁吉亚语"_s,
        u"古英语"_s, u"卡克其奎尔语"_s, u"豪萨语"_s, u"荷兰语"_s, u"哈萨克语"_s, u"黑山语"_s,
        u"胡帕语"_s, u"海地语"_s, u"吉尔吉斯语"_s, u"加泰罗尼亚语"_s, u"加利西亚语"_s, u"捷克语"_s,
        u"加拿大法语"_s, u"卡拜尔语"_s, u"卡舒比语"_s, u"科西嘉语"_s, u"克林贡语"_s, u"克什米尔语"_s,
        u"卡纳达语"_s, u"康沃尔语"_s, u"克里克语"_s, u"克罗地亚语"_s, u"孔卡尼语"_s, u"卡努里语"_s,
        u"科萨语"_s, u"克里米亚鞑靼语"_s, u"克丘亚语"_s, u"库尔德语"_s, u"拉丁语"_s, u"拉特加莱语"_s,
        u"林加拉语"_s, u"卢森尼亚语"_s, u"罗曼什语"_s, u"老挝语"_s, u"拉脱维亚语"_s, u"卢干达语"_s,
        u"卢旺达语"_s, u"罗马尼亚语"_s, u"罗姆语"_s, u"林堡语"_s, u"卢森堡语"_s, u"立陶宛语"_s,
        u"逻辑语"_s, u"马来语"_s, u"马达加斯加语"_s, u"马绍尔语"_s, u"毛里求斯克里奥尔语"_s, u"马耳他语"_s,
        u"摩尔多瓦语"_s, u"缅甸语"_s, u"马拉雅拉姆语"_s, u"迈蒂利语"_s, u"毛利语"_s, u"蒙古语"_s,
        u"苗语"_s, u"马拉地语"_s, u"马其顿语"_s, u"马恩岛语"_s, u"孟加拉语"_s, u"马拉地语（印度）"_s,
        u"挪威语"_s, u"南非荷兰语"_s, u"那不勒斯语"_s, u"南索托语"_s, u"南恩德贝莱语"_s, u"尼泊尔语"_s,
        u"葡萄牙语"_s, u"普什图语"_s, u"旁遮普语"_s, u"帕皮阿门托语"_s, u"齐切瓦语"_s, u"契维语"_s,
        u"切罗基语"_s, u"瑞典语"_s, u"萨丁尼亚语"_s, u"塞尔维亚语"_s, u"世界语"_s, u"斯洛文尼亚语"_s,
        u"索马里语"_s, u"萨摩亚语"_s, u"桑海语"_s, u"书面挪威语"_s, u"斯瓦希里语"_s, u"塞茨瓦纳语"_s,
        u"塞尔维亚-克罗地亚语"_s, u"僧伽罗语"_s, u"斯洛伐克语"_s, u"苏格兰语"_s, u"塞尔维亚语（西里尔）"_s, u"泰语"_s,
        u"泰米尔语"_s, u"泰卢固语"_s, u"突尼斯阿拉伯语"_s, u"土耳其语"_s, u"他加禄语"_s, u"图瓦语"_s,
        u"塔吉克语"_s, u"提格利尼亚语"_s, u"土库曼语"_s, u"乌克兰语"_s, u"文达语"_s, u"乌兹别克语"_s,
        u"瓦隆语"_s, u"沃洛夫语"_s, u"维吾尔语"_s, u"威尔士语"_s, u"乌尔都语"_s, u"西班牙语"_s,
        u"匈牙利语"_s, u"希利盖农语"_s, u"新挪威语"_s, u"修纳语"_s, u"希伯来语"_s, u"西弗里斯语"_s,
        u"下索布语"_s, u"西非书面语"_s, u"宿务语"_s, u"希腊语"_s, u"西里西亚语"_s, u"夏威夷语"_s,
        u"信德语"_s, u"叙利亚语"_s, u"巽他语"_s, u"意大利语"_s, u"因特语"_s, u"伊博语"_s,
        u"亚美尼亚语"_s, u"伊朗语"_s, u"印地语"_s, u"越南语"_s, u"亚齐语"_s, u"伊多语"_s,
        u"伊努克提图特语"_s, u"印尼语"_s, u"意第绪语"_s, u"印古什语"_s, u"约鲁巴语"_s, u"伊努克提图特语（拉丁）"_s,
        u"粤语"_s, u"祖鲁语"_s, u"中文（繁体）"_s, u"扎扎其语"_s, u"爪哇语"_s, u"中文（文言文）"_s,
        u"中古法语"_s,
    };
    return names;
}

const QStringList& UWLanguageTables::iflyDictationNames()
{
    static const QStringList names { u"中文简体"_s, u"英语"_s, u"粤语简体"_s, u"闽南语"_s, u"四川话"_s, u"上海话"_s,
        u"中文繁体"_s, u"粤语繁体"_s };
    return names;
}

const QStringList& UWLanguageTables::baiduDictationNames()
{
    static const QStringList names { u"简体中文"_s, u"繁体中文"_s, u"粤语"_s, u"英语"_s };
    return names;
}

const UWLanguageTables::Sections& UWLanguageTables::sectionedAsrCodes()
{
    static const Sections sections {
        { u"ar-EG"_s }, // A
        { u"pl-PL"_s }, // B
        {  }, // C
        { u"da-DK"_s, u"de-DE"_s }, // D
        { u"ru-RU"_s }, // E
        { u"zh-TW"_s, u"fi-FI"_s, u"fr-CA"_s, u"fr-FR"_s }, // F
        {  }, // G
        { u"ko-KR"_s, u"nl-NL"_s }, // H
        {  }, // I
        { u"zh-CN"_s, u"ca-ES"_s }, // J
        {  }, // K
        {  }, // L
        {  }, // M
        { u"nb-NO"_s }, // N
        {  }, // O
        { u"pt-BR"_s, u"pt-PT"_s }, // P
        {  }, // Q
        { u"ja-JP"_s, u"sv-SE"_s }, // R
        {  }, // S
        { u"th-TH"_s }, // T
        {  }, // U
        {  }, // V
        {  }, // W
        { u"es-ES"_s, u"es-MX"_s }, // X
        { u"zh-HK"_s, u"en-US"_s, u"en-AU"_s, u"en-CA"_s, u"en-GB"_s, u"en-IN"_s, u"en-NZ"_s, u"hi-IN"_s, u"it-IT"_s }, // Y
        {  }, // Z
    };
    return sections;
}

const UWLanguageTables::Sections& UWLanguageTables::sectionedAsrNames()
{
    static const Sections sections {
        { u"阿拉伯语(埃及)"_s }, // A
        { u"波兰语"_s }, // B
        {  }, // C
        { u"丹麦语"_s, u"德语"_s }, // D
        { u"俄语"_s }, // E
        { u"繁体中文(台湾)"_s, u"芬兰语"_s, u"法语(加拿大)"_s, u"法语(法国)"_s }, // F
        {  }, // G
        { u"韩语"_s, u"荷兰语"_s }, // H
        {  }, // I
        { u"简体中文"_s, u"加泰罗尼亚语"_s }, // J
        {  }, // K
        {  }, // L
        {  }, // M
        { u"挪威语"_s }, // N
        {  }, // O
        { u"葡萄牙语(巴西)"_s, u"葡萄牙语(葡萄牙)"_s }, // P
        {  }, // Q
        { u"日语"_s, u"瑞典语"_s }, // R
        {  }, // S
        { u"泰语"_s }, // T
        {  }, // U
        {  }, // V
        {  }, // W
        { u"西班牙语(西班牙)"_s, u"西班牙语(墨西哥)"_s }, // X
        { u"粤语(香港)"_s, u"英语(美国)"_s, u"英语(澳大利亚)"_s, u"英语(加拿大)"_s, u"英语(英国)"_s, u"英语(印度)"_s, u"英语(新西兰)"_s, u"印地语"_s, u"意大利语"_s }, // Y
        {  }, // Z
    };
    return sections;
}

const UWLanguageTables::Sections& UWLanguageTables::sectionedTranslationCodes()
{
    static const Sections sections {
        { u"ar"_s, u"et"_s }, // A
        { u"bg"_s, u"pl"_s, u"bs"_s, u"mww"_s, u"is"_s, u"fa"_s }, // B
        {  }, // C
        { u"da"_s, u"de"_s }, // D
        { u"ru"_s }, // E
        { u"zh-Hant"_s, u"fr"_s, u"fi"_s, u"fil"_s, u"fj"_s }, // F
        {  }, // G
        { u"ko"_s, u"nl"_s, u"ht"_s }, // H
        {  }, // I
        { u"zh-Hans"_s, u"cs"_s, u"ca"_s }, // J
        { u"hr"_s, u"tlh"_s, u"tlh-Qaak"_s, u"otq"_s }, // K
        { u"ro"_s, u"lv"_s, u"lt"_s }, // L
        { u"bn"_s, u"mg"_s, u"ms"_s, u"mt"_s }, // M
        { u"af"_s, u"nb"_s }, // N
        {  }, // O
        { u"pt"_s }, // P
        {  }, // Q
        { u"ja"_s, u"sv"_s }, // R
        { u"sl"_s, u"sw"_s, u"sm"_s, u"sr-Cyrl"_s, u"sr-Latn"_s, u"sk"_s }, // S
        { u"th"_s, u"ty"_s, u"ta"_s, u"te"_s, u"to"_s, u"tr"_s }, // T
        {  }, // U
        {  }, // V
        { u"uk"_s, u"ur"_s, u"cy"_s }, // W
        { u"es"_s, u"el"_s, u"hu"_s, u"he"_s }, // X
        { u"en"_s, u"it"_s, u"vi"_s, u"yue"_s, u"hi"_s, u"id"_s, u"yua"_s }, // Y
        {  }, // Z
    };
    return sections;
}

const UWLanguageTables::Sections& UWLanguageTables::sectionedTranslationNames()
{
    static const Sections sections {
        { u"阿拉伯语"_s, u"爱沙尼亚语"_s }, // A
        { u"保加利亚语"_s, u"波兰语"_s, u"波斯尼亚语"_s, u"白苗语"_s, u"冰岛语"_s, u"波斯语"_s }, // B
        {  }, // C
        { u"丹麦语"_s, u"德语"_s }, // D
        { u"俄语"_s }, // E
        { u"繁体中文"_s, u"法语"_s, u"芬兰语"_s, u"菲律宾语"_s, u"斐济语"_s }, // F
        {  }, // G
        { u"韩语"_s, u"荷兰语"_s, u"海地克里奥尔语"_s }, // H
        {  }, // I
        { u"简体中文"_s, u"捷克语"_s, u"加泰罗尼亚语"_s }, // J
        { u"克罗地亚语"_s, u"克林贡语"_s, u"克林贡语(piqaD)"_s, u"克雷塔罗奥托米语"_s }, // K
        { u"罗马尼亚语"_s, u"拉脱维亚语"_s, u"立陶宛语"_s }, // L
        { u"孟加拉语"_s, u"马达加斯加语"_s, u"马来语"_s, u"马耳他语"_s }, // M
        { u"南非荷兰语"_s, u"挪威语"_s }, // N
        {  }, // O
        { u"葡萄牙语"_s }, // P
        {  }, // Q
        { u"日语"_s, u"瑞典语"_s }, // R
        { u"斯洛文尼亚语"_s, u"斯瓦希里语"_s, u"萨摩亚语"_s, u"塞尔维亚语(西里尔文)"_s, u"塞尔维亚语(拉丁文)"_s, u"斯洛伐克语"_s }, // S
        { u"泰语"_s, u"塔希提语"_s, u"泰米尔语"_s, u"泰卢固语"_s, u"汤加语"_s, u"土耳其语"_s }, // T
        {  }, // U
        {  }, // V
        { u"乌克兰语"_s, u"乌尔都语"_s, u"威尔士语"_s }, // W
        { u"西班牙语"_s, u"希腊语"_s, u"匈牙利语"_s, u"希伯来语"_s }, // X
        { u"英语"_s, u"意大利语"_s, u"越南语"_s, u"粤语"_s, u"印地语"_s, u"印尼语"_s, u"尤卡坦玛雅语"_s }, // Y
        {  }, // Z
    };
    return sections;
}
