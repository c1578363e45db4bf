.pragma library
.import "en.js" as En
.import "zh-Hans.js" as ZhHans
.import "zh-Hant.js" as ZhHant
.import "ja-JP.js" as JaJP
.import "de.js" as De
.import "es.js" as Es
.import "fr.js" as Fr
.import "pt-PT.js" as PtPT

// The interface's texts by language: one file per language, each holding
// every key in that language.
var tables = {
    "en": En.texts,
    "zh-Hans": ZhHans.texts,
    "zh-Hant": ZhHant.texts,
    "ja-JP": JaJP.texts,
    "de": De.texts,
    "es": Es.texts,
    "fr": Fr.texts,
    "pt-PT": PtPT.texts
}
