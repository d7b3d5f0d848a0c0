// Stands in for +[NSKeyedUnarchiver unarchivedObjectOfClass:fromData:error:] (macOS 10.13),
// which GNUstep 1.28 lacks. As on macOS it never throws: data that is no keyed archive, or
// whose root object is not of the class asked for, gives nil and an error.

@implementation NSKeyedUnarchiver (VellumorMacOSShim)

+ (id)unarchivedObjectOfClass:(Class)cls fromData:(NSData*)data error:(NSError**)error {
    id root = nil;
    NSString* reason = nil;
    @try {
        NSKeyedUnarchiver* unarchiver =
            [[[NSKeyedUnarchiver alloc] initForReadingWithData:data] autorelease];
        root = [unarchiver decodeObjectForKey:@"root"];
        [unarchiver finishDecoding];
        if (root == nil) {
            reason = @"the archive has no root object";
        } else if (![root isKindOfClass:cls]) {
            reason =
                [NSString stringWithFormat:@"the root object is a %@, not a %@",
                                           NSStringFromClass([root class]), NSStringFromClass(cls)];
            root = nil;
        }
    } @catch (NSException* exception) {
        reason = [exception reason] != nil ? [exception reason] : @"the data is no keyed archive";
        root = nil;
    }
    if (root == nil && error != nullptr) {
        *error =
            [NSError errorWithDomain:NSCocoaErrorDomain
                                code:4864  // NSCoderReadCorruptError
                            userInfo:[NSDictionary dictionaryWithObject:reason
                                                                 forKey:NSLocalizedDescriptionKey]];
    }
    return root;
}

@end
