*to be removed*
*be removed from*
*wish to be removed*
*want to be removed*
*like to be removed*
*removal instructions*
*to remove yourself*
*remove yourself from*
*remove you from*
*remove your name*
*remove your address*
*remove your e-mail*
*remove your email*
*remove in the subject*
*remove" in the subject*
*remove' in the subject*
*remove as the subject*
*remove in subject*
*remove" in subject*
*subject line remove*
*subject: remove*
*with remove in*
*reply with remove*
*reply with "remove*
*reply "remove*
*with the word remove*
*with the word "remove*
*send a blank*
*click here to remove*
*click here to be removed*
*removed from our*
*removed from this*
*removed from future*
*removed from any*
*taken off our*
*taken off of our*
*taken off this*
*to be taken off*
*remove@*
*removeme*
*remove-me*
